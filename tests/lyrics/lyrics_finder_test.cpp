#include <sys/stat.h>

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "foundation/text.h"
#include "identify/http_test_support.h"
#include "library/file_ref.h"
#include "library/song.h"
#include "library/song_list.h"
#include "library/lyrics_frame.h"
#include "library/tags.h"
#include "lyrics/lyrics_finder.h"
#include "support/fake_http_server.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

class CFakeLyricsWindow : public ILyricsWindow {
public:
    void SetVisible(const std::string& control, bool visible) override { visibleOf[control] = visible; }
    void SetEnabled(const std::string& control, bool enabled) override { enabledOf[control] = enabled; }
    void SetText(const std::string& control, const std::string& text) override { textOf[control] = text; }
    std::string Text(const std::string& control) const override {
        auto it = textOf.find(control);
        return it == textOf.end() ? "" : it->second;
    }
    void Focus(const std::string& control) override { focused = control; }
    void Show() override { ++shown; }
    void Hide() override { ++hidden; }
    void RefreshInspector(CSong* song) override { refreshed = song; }
    void Alert(const std::string& message, const std::string& detail) override {
        alerts.push_back(message + "|" + detail);
    }

    std::map<std::string, bool> visibleOf;
    std::map<std::string, bool> enabledOf;
    std::map<std::string, std::string> textOf;
    std::string focused;
    int shown = 0;
    int hidden = 0;
    CSong* refreshed = nullptr;
    std::vector<std::string> alerts;
};

// The body of a POST as it arrives: between the blank line and its CR LF.
std::string BodyOf(const std::string& request) {
    const size_t start = request.find("\r\n\r\n");
    if (start == std::string::npos) return "";
    return request.substr(start + 4, request.find("\r\n", start + 4) - start - 4);
}

std::string PathOf(const std::string& request) {
    const size_t space = request.find(' ');
    return request.substr(space + 1, request.find(' ', space + 1) - space - 1);
}

class LyricsFinder : public HttpTest {
protected:
    void SetUp() override {
        HttpTest::SetUp();
        path = dir.Copy(FixtureFile("short_22k_mono_cbr32.mp3"), "song.mp3");
        song.fileRef = MakeFileRef(path.c_str());
        SetValues("Song & Dance", "");
    }

    void SetValues(const char* title, const char* artist) {
        CopyBounded(song.tags.title, sizeof song.tags.title, title);
        CopyBounded(song.tags.artist, sizeof song.tags.artist, artist);
    }

    // Opens the window and runs a search to its end.
    void Search() {
        finder.Open(&song);
        finder.HandleCommand(FourCharCode("FIND"));
        for (int waited = 0; waited < 20000 && finder.Searching(); waited += 2) {
            finder.TimerStep();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ASSERT_FALSE(finder.Searching());
    }

    std::vector<std::string> Titles() const {
        std::vector<std::string> titles;
        for (const CLyricsResult& r : finder.Results()) titles.push_back(r.title);
        return titles;
    }

    CTempDir dir;
    std::string path;
    CSong song;
    CFakeHttpServer serviceA;
    CFakeHttpServer serviceB;
    CScopedEnv hostA{"MELODEX_LYRICS_A_HOST", serviceA.HostPort("").c_str()};
    CScopedEnv hostB{"MELODEX_LYRICS_B_HOST", serviceB.HostPort("").c_str()};
    CFakeLyricsWindow window;
    CLyricsFinder finder{window};
};

TEST_F(LyricsFinder, CollectsSeventeenResultsOfAThenTheResultOfB) {
    std::string answer = "<?xml version=\"1.0\"?><results>";
    for (int i = 1; i <= 20; ++i) {
        const std::string n = std::to_string(i);
        // Every result has a title and an album; only even ones an artist.
        answer += "<result id=\"" + n + "\" title=\"T" + n + " &amp; co\"" +
                  (i % 2 == 0 ? " artist=\"R" + n + "\"" : "") + " album=\"B" + n + "\"/>";
    }
    answer += "</results>";
    serviceA.SetHandler([&](const std::string& request) {
        const std::string body = BodyOf(request);
        if (body.rfind("act=query&", 0) == 0) return CFakeResponse::Plain(200, answer);
        return CFakeResponse::Plain(200, "Words of " + body.substr(body.find("id=") + 3) + " &eacute;");
    });
    serviceB.SetHandler([](const std::string& request) {
        if (PathOf(request).rfind("/api_search.php", 0) == 0)
            return CFakeResponse::Plain(200, "<sr><result hid=\"b7\" exactMatch=\"true\"/></sr>");
        return CFakeResponse::Plain(200, "<lyric><title>Song</title><artist><name>Band &amp; Co</name></artist>"
                                         "<album><name></name></album><text>B words</text></lyric>");
    });
    Search();

    const std::vector<std::string> a = serviceA.Requests();
    ASSERT_EQ(a.size(), 18u);
    // Title only: no "ar=" part; the title is percent-encoded.
    EXPECT_EQ(BodyOf(a[0]), "act=query&ti=Song%20%26%20Dance&cln=Corvina&clv=2.0.0&and=1");
    EXPECT_EQ(PathOf(a[0]), "/soap.php");
    // The identifier keeps the attribute's closing quote.
    EXPECT_EQ(BodyOf(a[1]), "act=detail&id=1\"");
    EXPECT_EQ(BodyOf(a[17]), "act=detail&id=17\"");
    const std::vector<std::string> b = serviceB.Requests();
    ASSERT_EQ(b.size(), 2u);
    EXPECT_EQ(PathOf(b[0]), "/api_search.php?auth=wEbpaq&songtitle=Song%20%26%20Dance&");
    EXPECT_EQ(PathOf(b[1]), "/api_lyrics.php?auth=wEbpaq&hid=b7\"");

    ASSERT_EQ(finder.Results().size(), 18u);
    EXPECT_EQ(finder.Results()[0].title, "T1 & co - B1");
    EXPECT_EQ(finder.Results()[1].title, "T2 & co - R2 - B2");
    EXPECT_EQ(finder.Results()[0].lyrics, "Words of 1\" \xE9");
    EXPECT_EQ(finder.Results()[17].title, "Song - Band & Co");
    EXPECT_EQ(finder.Results()[17].lyrics, "B words");

    EXPECT_EQ(finder.CurrentIndex(), 0);
    EXPECT_EQ(window.textOf["FRES"], "Match 1 out of 18");
    EXPECT_EQ(window.textOf["MATC"], "T1 & co - B1");
    EXPECT_EQ(window.textOf["LYRI"], "Words of 1\" \xE9");
    EXPECT_TRUE(window.enabledOf["NEXT"] && window.enabledOf["PREV"] && window.visibleOf["FRES"]);
    EXPECT_FALSE(window.visibleOf["FIND"] || window.visibleOf["FPRO"] || window.visibleOf["WHEE"]);
}

TEST_F(LyricsFinder, FailedDetailOfAMovesOnToBAndKeepsWhatWasFound) {
    SetValues("", "Artist/Name");
    serviceA.SetHandler([](const std::string& request) {
        const std::string body = BodyOf(request);
        if (body.rfind("act=query&", 0) == 0)
            return CFakeResponse::Plain(200, "<result id=\"1\" title=\"One\"/><result id=\"2\" title=\"Two\"/>"
                                             "<result id=\"3\" title=\"Three\"/>");
        if (body == "act=detail&id=1\"") return CFakeResponse::Plain(200, "first words");
        return CFakeResponse::Plain(500, "broken");
    });
    serviceB.Enqueue(CFakeResponse::Plain(404, "none"));
    Search();
    EXPECT_EQ(BodyOf(serviceA.Requests()[0]), "act=query&ar=Artist%2FName&cln=Corvina&clv=2.0.0&and=1");
    // The third result is never asked for; B was asked (and failed).
    for (const std::string& r : serviceA.Requests()) EXPECT_NE(BodyOf(r), "act=detail&id=3\"");
    ASSERT_FALSE(serviceB.Requests().empty());
    EXPECT_EQ(PathOf(serviceB.Requests()[0]), "/api_search.php?auth=wEbpaq&artist=Artist%2FName&");
    EXPECT_EQ(Titles(), std::vector<std::string>{"One"});
    EXPECT_EQ(window.textOf["FRES"], "Match 1 out of 1");
    EXPECT_EQ(window.textOf["LYRI"], "first words");
}

TEST_F(LyricsFinder, SearchAnswerOfBWithLyricsEndsAtOnce) {
    serviceA.Enqueue(CFakeResponse::Plain(200, "<results></results>"));
    serviceB.Enqueue(CFakeResponse::Plain(200, "<lyric hid=\"x\" exactMatch><title>Only</title>"
                                               "<text>direct &amp; quick</text></lyric>"));
    Search();
    EXPECT_EQ(serviceB.RequestCount(), 1u);
    EXPECT_EQ(Titles(), std::vector<std::string>{"Only"});
    EXPECT_EQ(window.textOf["LYRI"], "direct & quick");
}

TEST_F(LyricsFinder, NothingFoundShowsTheNoLyricsState) {
    const struct {
        const char* label;
        const char* title;
        bool serversUp;
        size_t requestsA;
    } cases[] = {
        {"answers without results", "Song", true, 1},
        {"no network", "Song", false, 0},
        {"neither title nor artist", "", true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        CFakeHttpServer a;
        CFakeHttpServer b;
        a.Enqueue(CFakeResponse::Plain(200, "<results/>"));
        b.Enqueue(CFakeResponse::Plain(200, "<none/>"));
        const std::string closed = "127.0.0.1:" + std::to_string(ClosedPort());
        CScopedEnv envA("MELODEX_LYRICS_A_HOST", c.serversUp ? a.HostPort("").c_str() : closed.c_str());
        CScopedEnv envB("MELODEX_LYRICS_B_HOST", c.serversUp ? b.HostPort("").c_str() : closed.c_str());
        SetValues(c.title, "");
        window.textOf.clear();
        Search();
        EXPECT_EQ(a.RequestCount(), c.requestsA);
        EXPECT_EQ(window.textOf["FRES"], "No lyrics found.");
        EXPECT_TRUE(window.visibleOf["FRES"]);
        EXPECT_FALSE(window.visibleOf["FIND"] || window.visibleOf["FPRO"] || window.visibleOf["WHEE"]);
        EXPECT_TRUE(finder.Results().empty());
    }
    // A search before any song was given ends the same way.
    CLyricsFinder unopened{window};
    window.textOf.clear();
    unopened.HandleCommand(FourCharCode("FIND"));
    EXPECT_EQ(window.textOf["FRES"], "No lyrics found.");
}

TEST_F(LyricsFinder, NextAndPreviousWrapAround) {
    serviceA.SetHandler([](const std::string& request) {
        const std::string body = BodyOf(request);
        if (body.rfind("act=query&", 0) == 0)
            return CFakeResponse::Plain(200, "<result id=\"1\" title=\"A\"/><result id=\"2\" title=\"B\"/>"
                                             "<result id=\"3\" title=\"C\"/>");
        return CFakeResponse::Plain(200, "lyrics " + body.substr(14, 1));
    });
    serviceB.Enqueue(CFakeResponse::Plain(200, "<none/>"));
    Search();
    ASSERT_EQ(Titles(), (std::vector<std::string>{"A", "B", "C"}));
    constexpr uint32_t kNext = FourCharCode("NEXT");
    constexpr uint32_t kPrev = FourCharCode("PREV");
    const struct {
        uint32_t command;
        const char* title;
        const char* fres;
    } steps[] = {
        {kPrev, "C", "Match 3 out of 3"}, {kNext, "A", "Match 1 out of 3"}, {kNext, "B", "Match 2 out of 3"},
        {kNext, "C", "Match 3 out of 3"}, {kNext, "A", "Match 1 out of 3"},
    };
    for (const auto& s : steps) {
        finder.HandleCommand(s.command);
        EXPECT_EQ(window.textOf["MATC"], s.title);
        EXPECT_EQ(window.textOf["FRES"], s.fres);
    }
    EXPECT_EQ(window.textOf["LYRI"], "lyrics 1");
}

TEST_F(LyricsFinder, SaveEnablingFollowsTheStoredText) {
    const struct {
        std::optional<std::string> stored;
        const char* typed;
        bool enabled;
    } cases[] = {
        {std::nullopt, "", false}, {std::nullopt, "new", true}, {"old", "old", false},
        {"old", "changed", true},  {"old", "", true},           {"", "", false},
        {"", "typed over an empty frame", true},
    };
    for (const auto& c : cases) {
        const std::string file = dir.Copy(path, "case.mp3");
        if (c.stored && c.stored->empty()) {
            // A lyrics frame with an empty text: the tag module never writes one.
            const std::string frame = std::string("USLT\0\0\0\5\0\0", 10) + std::string("\0eng\0", 5);
            dir.Write("case.mp3", std::string("ID3\3\0\0\0\0\0", 9) + char(frame.size()) + frame +
                                      ReadFileBytes(path));
        } else if (c.stored) {
            ASSERT_EQ(WriteLyrics(file, *c.stored), 0);
        }
        ASSERT_EQ(ReadLyrics(file), c.stored);
        song.fileRef = MakeFileRef(file.c_str());
        finder.Open(&song);
        window.textOf["LYRI"] = c.typed;
        finder.TimerStep();
        EXPECT_EQ(window.enabledOf["SAVE"], c.enabled) << (c.stored ? "'" + *c.stored + "'" : "none") << " / " << c.typed;
    }
}

TEST_F(LyricsFinder, SaveSetsOrRemovesTheFrameAndReportsFailures) {
    finder.Open(&song);
    EXPECT_EQ(window.shown, 1);
    EXPECT_EQ(window.focused, "LYRI");
    EXPECT_EQ(finder.StoredLyrics(), std::nullopt);
    window.textOf["LYRI"] = "La la la";
    ASSERT_EQ(finder.HandleCommand(FourCharCode("SAVE")), true);
    EXPECT_EQ(ReadLyrics(path), "La la la");
    EXPECT_EQ(finder.StoredLyrics(), "La la la");
    EXPECT_TRUE(SameFile(song.fileRef, MakeFileRef(path.c_str())));

    // Reopened, the stored text shows; cleared and saved, the frame goes.
    finder.Open(&song);
    EXPECT_EQ(window.textOf["LYRI"], "La la la");
    window.textOf["LYRI"] = "";
    EXPECT_EQ(finder.Save(), 0);
    EXPECT_FALSE(HasLyricsFrame(path));
    EXPECT_EQ(finder.StoredLyrics(), std::nullopt);

    // A write that fails is reported and changes nothing.
    ASSERT_EQ(WriteLyrics(path, "kept"), 0);
    finder.Open(&song);
    chmod(path.c_str(), 0444);
    window.textOf["LYRI"] = "lost?";
    EXPECT_NE(finder.Save(), 0);
    chmod(path.c_str(), 0644);
    EXPECT_EQ(ReadLyrics(path), "kept");
    EXPECT_EQ(finder.StoredLyrics(), "kept");
    ASSERT_EQ(window.alerts.size(), 1u);
    EXPECT_EQ(window.alerts[0], "The lyrics could not be saved.|" + ErrorMessage(eFileReadOnly));

    finder.HandleCommand(FourCharCode("CLOS"));
    EXPECT_EQ(window.hidden, 1);
    EXPECT_EQ(window.refreshed, &song);
}

}  // namespace
