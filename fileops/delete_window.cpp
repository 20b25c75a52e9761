#include "fileops/delete_window.h"

#include "foundation/latin1.h"
#include "foundation/shell.h"
#include "foundation/text.h"
#include "library/song.h"

CDeleteQuestion MakeDeleteQuestion(CSong& song) {
    CDeleteQuestion question;
    question.song = &song;
    question.fileName = DecodeUtf8ToLatin1(song.FileName());
    char text[32];
    FormatBounded(text, sizeof text, "%02d:%02d", song.lengthSeconds / 60, song.lengthSeconds % 60);
    question.length = text;
    // As the list's sample-rate column shows it.
    const int32_t rate = song.sampleRate > 1000 ? song.sampleRate / 1000 : song.sampleRate;
    FormatBounded(text, sizeof text, "%d kHz", rate);
    question.rate = text;
    return question;
}

EDeleteChoice CShellDeleteWindow::Ask(const CDeleteQuestion& question) {
    static constexpr EDeleteChoice kChoices[] = {EDeleteChoice::Delete, EDeleteChoice::Skip,
                                                 EDeleteChoice::DeleteAll, EDeleteChoice::Cancel};
    const int answer = shell_.Ask(question.fileName, question.length + ", " + question.rate,
                                  {"Delete", "Skip", "Delete All", "Cancel"}, 3);
    return answer >= 0 && answer < 4 ? kChoices[answer] : EDeleteChoice::Cancel;
}
