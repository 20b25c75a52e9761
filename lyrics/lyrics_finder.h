#pragma once
// The lyrics finder: shows and edits a song's lyrics, searches two lyrics
// services one after the other (service A by form posts, service B by keyed
// GET requests), each in a search phase that yields result identifiers and a
// detail phase that yields the texts, lets the user step through the texts
// found and saves the chosen one into the file's lyrics frame. Every request
// is polled from the window's timer on the main thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "identify/http_request.h"
#include "lyrics/lyrics_window_port.h"

struct CSong;

struct CLyricsResult {
    std::optional<std::string> serviceId;  // for a detail request
    std::string title;                     // shown above the lyrics
    std::optional<std::string> lyrics;
};

class CLyricsFinder {
public:
    // Results kept from one search answer of service A.
    static constexpr size_t kMaxSearchResults = 17;
    // Key of service B.
    static constexpr char kServiceKey[] = "wEbpaq";

    explicit CLyricsFinder(ILyricsWindow& window);
    ~CLyricsFinder();
    CLyricsFinder(const CLyricsFinder&) = delete;
    CLyricsFinder& operator=(const CLyricsFinder&) = delete;

    // Resets the search, reads the song's lyrics from its file and shows the
    // window.
    void Open(CSong* song);
    // Every 0.1 s while the window is open.
    void TimerStep();
    // FIND, NEXT, PREV, SAVE, CLOS and the close box ("clos"); false for
    // other commands.
    bool HandleCommand(uint32_t command);

    void Find();
    void Next();
    void Previous();
    // Writes LYRI into the file's lyrics frame (an empty text removes the
    // frame). Returns 0, or the error code that was reported.
    int32_t Save();
    void Close();

    // State, for the window and for tests.
    const std::vector<CLyricsResult>& Results() const { return results_; }
    int32_t CurrentIndex() const { return current_; }
    const std::optional<std::string>& StoredLyrics() const { return storedLyrics_; }
    bool Searching() const { return aActive_ || bActive_; }

private:
    void StartASearch();
    void StartBSearch();
    void MoveOnFromA();
    void StepA();
    void StepB();
    // Sends the next detail request of the current phase; false at the end
    // of the list.
    bool SendNextDetail(bool serviceA);
    void Finish();
    void ShowNoLyrics();
    void ShowResult();
    // Creates and starts a request; a request that cannot start counts as a
    // failed one at the next step.
    void Send(const std::string& url, const char* body);
    // The finished request's body as text, or none after an error.
    std::optional<std::string> TakeResponse(bool emptyIsError);

    ILyricsWindow& window_;
    CSong* song_ = nullptr;
    std::optional<std::string> storedLyrics_;
    CHttpRequest::Ptr request_;
    bool bActive_ = false;
    bool bDetail_ = false;
    bool aActive_ = false;
    bool aDetail_ = false;
    std::vector<CLyricsResult> results_;
    int32_t current_ = -1;
};
