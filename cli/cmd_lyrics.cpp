// The lyrics finder from the command line: a window that shows nothing and
// reports the search texts on standard error.
#include <map>

#include "cli/cli_context.h"
#include "cli/command.h"
#include "foundation/clock.h"
#include "library/song.h"
#include "lyrics/lyrics_finder.h"

namespace {

class CCliLyricsWindow : public ILyricsWindow {
public:
    explicit CCliLyricsWindow(CCliContext& context) : context_(context) {}

    void SetVisible(const std::string&, bool) override {}
    void SetEnabled(const std::string&, bool) override {}
    void SetText(const std::string& control, const std::string& text) override {
        texts_[control] = text;
        if (control == "FPRO" || control == "FRES") context_.Shell().Note(text);
    }
    std::string Text(const std::string& control) const override {
        const auto it = texts_.find(control);
        return it == texts_.end() ? std::string() : it->second;
    }
    void Focus(const std::string&) override {}
    void Show() override {}
    void Hide() override {}
    void RefreshInspector(CSong*) override {}
    void Alert(const std::string& message, const std::string& detail) override {
        context_.Fail("", message + (detail.empty() ? "" : " " + detail));
    }

private:
    CCliContext& context_;
    std::map<std::string, std::string> texts_;
};

void RunLyrics(CCliContext& context, const SArgs& args) {
    const std::string& path = args.operands[0];
    long long saveIndex = 0;
    if (const std::string* save = args.Value("save")) saveIndex = ParseInteger(*save, 1, INT32_MAX, "--save");
    if (!CheckMp3File(context, path)) return;

    CSong song;
    SongFromFile(context, path, song);
    if (song.tags.title[0] == '\0' && song.tags.artist[0] == '\0')
        context.Abort(path, "the song has no title or artist to search for");

    CCliLyricsWindow window(context);
    CLyricsFinder finder(window);
    finder.Open(&song);
    finder.Find();
    while (finder.Searching()) {
        finder.TimerStep();
        Clock().Sleep(0.1);
    }
    const std::vector<CLyricsResult>& results = finder.Results();
    if (saveIndex > 0) {
        if (static_cast<size_t>(saveIndex) > results.size())
            context.Abort(path, "no result " + std::to_string(saveIndex) + " to save (" +
                                    std::to_string(results.size()) + " found)");
        while (finder.CurrentIndex() != saveIndex - 1) finder.Next();
        if (finder.Save() != 0) context.Fail(path, "the lyrics were not saved");
    }
    CJsonValue result = CJsonValue::Array();
    for (const CLyricsResult& found : results) {
        CJsonValue& item = result.Push(CJsonValue::Object());
        item.Set("title", CJsonValue::Latin1(found.title));
        item.Set("lyrics", found.lyrics ? CJsonValue::Latin1(*found.lyrics) : CJsonValue::Null());
    }
    context.Emit(result);
}

}  // namespace

SCommand LyricsCommand() {
    return {"lyrics", "FILE", "search the two lyrics services for a song (by its title and artist)",
            "Shows every text found. --save N stores result N (from 1) in the file's lyrics\n"
            "(USLT) frame.",
            {{"save", "N", "store result N (from 1) in the tag"}}, 1, 1, RunLyrics};
}
