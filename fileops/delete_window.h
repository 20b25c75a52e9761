#pragma once
// The question asked before a song's file goes to the Trash. The window may
// also play the song, show its information or reveal its file without
// answering; those act on the song directly and are not part of this port.

#include <cstdint>
#include <string>

class IShell;
struct CSong;

enum class EDeleteChoice { Delete, Skip, DeleteAll, Cancel };

struct CDeleteQuestion {
    CSong* song = nullptr;
    std::string fileName;  // as application text (ISO-8859-1)
    std::string length;    // "%02d:%02d"
    std::string rate;      // "%d kHz"
};

class IDeleteWindow {
public:
    virtual ~IDeleteWindow() = default;
    // Runs modally until the user chooses.
    virtual EDeleteChoice Ask(const CDeleteQuestion& question) = 0;
};

// The question as the Delete window shows it.
CDeleteQuestion MakeDeleteQuestion(CSong& song);

// For front ends without that window: a question through the shell with the
// buttons "Delete", "Skip", "Delete All" and "Cancel"; a front end that
// cannot answer gets Cancel, so nothing is deleted unasked.
class CShellDeleteWindow : public IDeleteWindow {
public:
    explicit CShellDeleteWindow(IShell& shell) : shell_(shell) {}
    EDeleteChoice Ask(const CDeleteQuestion& question) override;

private:
    IShell& shell_;
};
