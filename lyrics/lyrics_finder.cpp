#include "lyrics/lyrics_finder.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "foundation/config.h"
#include "foundation/errors.h"
#include "foundation/text.h"
#include "identify/entities.h"
#include "identify/url_encode.h"
#include "library/lyrics_frame.h"
#include "library/song.h"
#include "library/song_list.h"

namespace {

constexpr size_t kEncodedSize = 256;      // encoded title or artist: 255 characters
constexpr size_t kRequestTextSize = 2048;  // body or URL: 2,047 characters
constexpr size_t kServiceIdSize = 64;
constexpr size_t kAttributeSize = 1024;
constexpr size_t kNameSize = 256;
constexpr size_t kLyricsSize = 32768;

constexpr char kResultMarker[] = "<result id=\"";

std::string Encoded(const char* text) {
    char out[kEncodedSize];
    UrlEncode(out, sizeof out, text);
    return out;
}

std::string Decoded(const char* text, size_t size) {
    std::vector<char> work(size);
    CopyBounded(work.data(), work.size(), text);
    DecodeEntities(work.data(), work.size());
    return work.data();
}

void JoinPart(std::string& title, const std::string& part) {
    if (part.empty()) return;
    if (!title.empty()) title += " - ";
    title += part;
}

// The text between start and end inside [text, limit), cut to size - 1
// characters; empty when a marker is missing there.
std::string Between(const char* text, const char* limit, const char* start, const char* end, size_t size) {
    const std::string region(text, static_cast<size_t>(limit - text));
    std::vector<char> out(size, '\0');
    if (ExtractBetween(region.c_str(), start, end, out.data(), out.size()) == nullptr) return {};
    return out.data();
}

// The "<name>" text inside the element called tag, decoded.
std::string NameInside(const char* text, const char* open, const char* close) {
    const char* from = std::strstr(text, open);
    if (from == nullptr) return {};
    const char* to = std::strstr(from, close);
    if (to == nullptr) return {};
    return Decoded(Between(from, to, "<name>", "</name>", kNameSize).c_str(), kNameSize);
}

bool NothingToSearch(const CTagValues& values) { return values.title[0] == '\0' && values.artist[0] == '\0'; }

}  // namespace

CLyricsFinder::CLyricsFinder(ILyricsWindow& window) : window_(window) {}

CLyricsFinder::~CLyricsFinder() = default;

void CLyricsFinder::Open(CSong* song) {
    song_ = song;
    results_.clear();
    current_ = -1;
    request_.reset();
    aActive_ = aDetail_ = bActive_ = bDetail_ = false;

    window_.SetVisible("FIND", true);
    window_.SetVisible("FPRO", false);
    window_.SetVisible("WHEE", false);
    window_.SetVisible("FRES", false);
    window_.SetEnabled("PREV", false);
    window_.SetEnabled("NEXT", false);
    window_.Focus("LYRI");

    storedLyrics_ = song_ != nullptr ? ReadLyrics(song_->fileRef.path) : std::nullopt;
    window_.SetText("LYRI", storedLyrics_.value_or(""));
    window_.Show();
}

void CLyricsFinder::TimerStep() {
    // Any difference from the stored text can be saved, including lyrics
    // typed over a frame whose text is empty.
    const std::string text = window_.Text("LYRI");
    window_.SetEnabled("SAVE", storedLyrics_ ? *storedLyrics_ != text : !text.empty());
    if (bActive_)
        StepB();
    else if (aActive_)
        StepA();
}

bool CLyricsFinder::HandleCommand(uint32_t command) {
    switch (command) {
        case FourCharCode("FIND"):
            Find();
            return true;
        case FourCharCode("NEXT"):
            Next();
            return true;
        case FourCharCode("PREV"):
            Previous();
            return true;
        case FourCharCode("SAVE"):
            Save();
            return true;
        case FourCharCode("CLOS"):
        case FourCharCode("clos"):
            Close();
            return true;
        default:
            return false;
    }
}

void CLyricsFinder::Find() {
    request_.reset();
    window_.SetVisible("FIND", false);
    window_.SetVisible("FRES", false);
    window_.SetVisible("FPRO", true);
    window_.SetVisible("WHEE", true);
    StartASearch();
}

void CLyricsFinder::StartASearch() {
    // Nothing to search for: say so rather than spin until the window closes.
    if (song_ == nullptr || NothingToSearch(song_->DisplayedValues())) {
        ShowNoLyrics();
        return;
    }
    const CTagValues& values = song_->DisplayedValues();
    char body[kRequestTextSize];
    CopyBounded(body, sizeof body, "act=query&");
    if (values.artist[0] != '\0') {
        AppendBounded(body, sizeof body, ("ar=" + Encoded(values.artist) + "&").c_str());
    }
    if (values.title[0] != '\0') {
        AppendBounded(body, sizeof body, ("ti=" + Encoded(values.title) + "&").c_str());
    }
    AppendBounded(body, sizeof body, "cln=Corvina&clv=2.0.0&and=1");
    aActive_ = true;
    aDetail_ = false;
    Send(ConfigValue(EConfigKey::LyricsAHost) + "/soap.php", body);
    results_.clear();
    current_ = -1;
}

void CLyricsFinder::StartBSearch() {
    if (song_ == nullptr || NothingToSearch(song_->DisplayedValues())) {
        Finish();
        return;
    }
    const CTagValues& values = song_->DisplayedValues();
    char url[kRequestTextSize];
    CopyBounded(url, sizeof url, (ConfigValue(EConfigKey::LyricsBHost) + "/api_search.php?auth=").c_str());
    AppendBounded(url, sizeof url, kServiceKey);
    AppendBounded(url, sizeof url, "&");
    if (values.title[0] != '\0') {
        AppendBounded(url, sizeof url, ("songtitle=" + Encoded(values.title) + "&").c_str());
    }
    if (values.artist[0] != '\0') {
        AppendBounded(url, sizeof url, ("artist=" + Encoded(values.artist) + "&").c_str());
    }
    bActive_ = true;
    bDetail_ = false;
    Send(url, nullptr);
    current_ = -1;
}

void CLyricsFinder::Send(const std::string& url, const char* body) {
    request_ = CHttpRequest::Create(url.c_str());
    if (body != nullptr) {
        request_->SetMethod(CHttpRequest::kPost);
        request_->SetBody(body);
    }
    try {
        request_->Start();
    } catch (const CError&) {
        request_.reset();
    }
}

std::optional<std::string> CLyricsFinder::TakeResponse(bool emptyIsError) {
    if (!request_ || request_->GetError() != 0 || (emptyIsError && request_->GetResponseLength() == 0)) {
        request_.reset();
        return std::nullopt;
    }
    std::vector<char> text(static_cast<size_t>(request_->GetResponseLength()) + 1);
    request_->CopyResponse(text.data(), text.size());
    request_.reset();
    return std::string(text.data());
}

void CLyricsFinder::MoveOnFromA() {
    request_.reset();
    if (aActive_) {
        aActive_ = false;
        StartBSearch();
    } else {
        ShowNoLyrics();
    }
}

void CLyricsFinder::StepA() {
    if (request_ && request_->Poll()) return;
    const std::optional<std::string> response = TakeResponse(true);
    if (!response) {
        MoveOnFromA();
        return;
    }
    if (aDetail_) {
        const std::string& title = results_[static_cast<size_t>(current_ - 1)].title;
        results_.push_back({std::nullopt, title, Decoded(response->c_str(), response->size() + 1)});
    } else {
        const char* text = response->c_str();
        const char* at = std::strstr(text, kResultMarker);
        while (at != nullptr && results_.size() < kMaxSearchResults) {
            // The identifier runs to the next space and keeps the closing quote.
            const char* id = at + std::strlen(kResultMarker);
            const size_t idLength = std::min(std::strcspn(id, " "), kServiceIdSize - 1);
            // Attributes are read within this result, not from the next one.
            const char* next = std::strstr(id, kResultMarker);
            const char* end = next != nullptr ? next : text + response->size();
            std::string title;
            for (const char* attribute : {"title=\"", "artist=\"", "album=\""}) {
                JoinPart(title, Decoded(Between(at, end, attribute, "\"", kAttributeSize).c_str(), kAttributeSize));
            }
            results_.push_back({std::string(id, idLength), title, std::nullopt});
            at = next;
        }
        if (results_.empty()) {
            MoveOnFromA();
            return;
        }
        current_ = 0;
        aDetail_ = true;
    }
    if (SendNextDetail(true)) return;
    if (!results_.empty())
        Finish();
    else
        MoveOnFromA();
}

void CLyricsFinder::StepB() {
    if (request_ && request_->Poll()) return;
    const std::optional<std::string> response = TakeResponse(false);
    if (!response) {
        Finish();
        return;
    }
    const char* text = response->c_str();
    const char* end = text + response->size();
    char lyrics[kLyricsSize];
    if (ExtractBetween(text, "<text>", "</text>", lyrics, sizeof lyrics) != nullptr) {
        std::string title = Decoded(Between(text, end, "<title>", "</title>", kAttributeSize).c_str(), kAttributeSize);
        JoinPart(title, NameInside(text, "<artist>", "</artist>"));
        JoinPart(title, NameInside(text, "<album>", "</album>"));
        results_.push_back({std::nullopt, title, Decoded(lyrics, sizeof lyrics)});
        // The search answer carried the lyrics at once.
        if (!bDetail_) {
            Finish();
            return;
        }
    }
    if (!bDetail_) {
        char id[kServiceIdSize];
        if (ExtractBetween(text, "hid=\"", " exactMatch", id, sizeof id) != nullptr)
            results_.push_back({std::string(id), std::string(), std::nullopt});
        if (results_.empty()) {
            ShowNoLyrics();
            return;
        }
        current_ = 0;
        bDetail_ = true;
    }
    if (SendNextDetail(false)) return;
    if (!results_.empty())
        Finish();
    else
        ShowNoLyrics();
}

bool CLyricsFinder::SendNextDetail(bool serviceA) {
    for (size_t i = static_cast<size_t>(std::max(current_, 0)); i < results_.size(); ++i) {
        if (!results_[i].serviceId) continue;
        current_ = static_cast<int32_t>(i + 1);
        const std::string& id = *results_[i].serviceId;
        if (serviceA) {
            char body[kRequestTextSize];
            FormatBounded(body, sizeof body, "act=detail&id=%s", id.c_str());
            Send(ConfigValue(EConfigKey::LyricsAHost) + "/soap.php", body);
        } else {
            char url[kRequestTextSize];
            FormatBounded(url, sizeof url, "%s/api_lyrics.php?auth=%s&hid=%s",
                          ConfigValue(EConfigKey::LyricsBHost).c_str(), kServiceKey, id.c_str());
            Send(url, nullptr);
        }
        return true;
    }
    return false;
}

void CLyricsFinder::Finish() {
    for (size_t i = results_.size(); i-- > 0;) {
        if (!results_[i].lyrics || results_[i].lyrics->empty()) results_.erase(results_.begin() + static_cast<ptrdiff_t>(i));
    }
    if (results_.empty()) {
        request_.reset();
        if (aActive_) {
            aActive_ = false;
            StartBSearch();
        } else {
            ShowNoLyrics();
        }
        return;
    }
    if (aActive_) {
        // The results of A wait for those of B.
        aActive_ = false;
        StartBSearch();
        return;
    }
    // The search is over: later timer steps must not run it again.
    bActive_ = false;
    window_.SetVisible("FIND", false);
    window_.SetVisible("FPRO", false);
    window_.SetVisible("WHEE", false);
    window_.SetEnabled("PREV", true);
    window_.SetEnabled("NEXT", true);
    current_ = -1;
    Next();
}

void CLyricsFinder::ShowNoLyrics() {
    aActive_ = bActive_ = false;
    window_.SetVisible("FIND", false);
    window_.SetVisible("FPRO", false);
    window_.SetVisible("WHEE", false);
    window_.SetText("FRES", "No lyrics found.");
    window_.SetVisible("FRES", true);
}

void CLyricsFinder::Next() {
    if (results_.empty()) return;
    current_ = current_ + 1 >= static_cast<int32_t>(results_.size()) ? 0 : current_ + 1;
    ShowResult();
}

void CLyricsFinder::Previous() {
    if (results_.empty()) return;
    current_ = current_ - 1 < 0 ? static_cast<int32_t>(results_.size()) - 1 : current_ - 1;
    ShowResult();
}

void CLyricsFinder::ShowResult() {
    const CLyricsResult& result = results_[static_cast<size_t>(current_)];
    window_.SetText("LYRI", result.lyrics.value_or(""));
    window_.SetText("MATC", result.title);
    char text[64];
    FormatBounded(text, sizeof text, "Match %d out of %d", current_ + 1, static_cast<int>(results_.size()));
    window_.SetText("FRES", text);
    window_.SetVisible("FRES", true);
}

int32_t CLyricsFinder::Save() {
    if (song_ == nullptr) return eParamErr;
    const std::string path = song_->fileRef.path;
    std::string text = window_.Text("LYRI");
    text.resize(std::min(text.size(), kLyricsLimit));
    // A failed write leaves the file and the stored lyrics as they were.
    const int32_t error = WriteLyrics(path, text);
    if (error != 0) {
        window_.Alert("The lyrics could not be saved.", ErrorMessage(error));
        return error;
    }
    storedLyrics_ = text.empty() ? std::nullopt : std::optional<std::string>(text);
    // The file was replaced, so its identity on disk is new.
    try {
        song_->fileRef = MakeFileRef(path.c_str());
    } catch (const CError&) {
    }
    return 0;
}

void CLyricsFinder::Close() {
    request_.reset();
    window_.Hide();
    window_.RefreshInspector(song_);
}
