#include "fileops/rename_session.h"

#include "fileops/itunes.h"
#include "foundation/latin1.h"
#include "foundation/prefs.h"
#include "foundation/text.h"
#include "library/song.h"

const std::vector<std::string>& RenamePresets() {
    static const std::vector<std::string> presets = {
        "%artist - %title",
        "%title",
        "%track. %title",
        "%track - %title",
        "%artist - %track - %title",
        "%artist - %album - %track - %title",
        "%album - %track - %title",
        "%disc-%track %title",
    };
    return presets;
}

CRenameSession::CRenameSession(IRenameWindow& window, CPrefs& prefs) : window_(window), prefs_(prefs) {}

void CRenameSession::Run(std::vector<CSong*> songs) {
    if (!presetsFilled_) {
        window_.SetPresets(RenamePresets());
        presetsFilled_ = true;
    }
    ended_ = false;
    decisionsEnabled_ = false;
    cancelEnabled_ = true;
    SetLayout(patternRowShown_ ? ERenameLayout::Full : ERenameLayout::Compact);
    window_.SetCancelTitle("Cancel");
    window_.EnableCancel(true);
    window_.EnableDecisions(false);
    window_.ShowBusy(false);

    run_.Start(std::move(songs), prefs_.renamePattern, prefs_.notifyItunesOnRename != 0);
    window_.RunModal(*this);
    if (!run_.finished.load(std::memory_order_acquire)) {
        // The window went away some other way: end the run like Cancel.
        run_.Decide(ERenameAction::Cancel);
        run_.Resume();
    }
    run_.Join();
    run_.ApplyRenames();
    window_.SetBusyCursor(false);
    window_.Close();
}

CSong* CRenameSession::CurrentSong() const {
    const int32_t index = run_.index.load(std::memory_order_relaxed);
    return index >= 0 && index < run_.Count() ? run_.Songs()[index] : nullptr;
}

void CRenameSession::Timer() {
    if (inTimer_) return;
    inTimer_ = true;
    run_.ApplyRenames();
    window_.SetProgress(run_.index.load(std::memory_order_relaxed), run_.Count(), RenameStatusText(run_));
    window_.ShowBusy(run_.busy.load(std::memory_order_relaxed));
    if (run_.finished.load(std::memory_order_acquire)) {
        if (!ended_) {
            ended_ = true;
            window_.EndModal();
        }
        inTimer_ = false;
        return;
    }
    if (run_.errorPending.exchange(false, std::memory_order_acq_rel)) HandleError();
    if (run_.action.load(std::memory_order_acquire) == ERenameAction::None &&
        run_.promptPending.load(std::memory_order_acquire)) {
        run_.promptPending.store(false, std::memory_order_relaxed);
        decisionsEnabled_ = true;
        window_.EnableDecisions(true);
        window_.SetPattern(prefs_.renamePattern);
        CSong* song = CurrentSong();
        char proposal[CRenameRun::kNameSize] = {};
        if (song != nullptr) {
            window_.SetCurrentName(DecodeUtf8ToLatin1(song->FileName()));
            ExpandPattern(*song, prefs_.renamePattern, proposal, sizeof proposal);
        }
        window_.SetNewName(proposal);
        CopyBounded(run_.newName, sizeof run_.newName, proposal);
        window_.FocusNewName();
    }
    inTimer_ = false;
}

void CRenameSession::HandleError() {
    enum { kCancel = 0, kSkip = 1, kCancelAndShow = 2 };
    int answer = window_.ShowError(run_.errorText, run_.errorCode);
    if (answer == kCancelAndShow) {
        if (CSong* song = CurrentSong(); song != nullptr) RevealInFinder(song->fileRef);
        answer = kCancel;
    }
    const ERenameAction decision = run_.action.load(std::memory_order_acquire);
    if (decision == ERenameAction::RenameAll) {
        SetLayout(layoutBeforeRenameAll_);
        window_.SetCancelTitle("Cancel");
    }
    // Skip after a single Rename means: offer the file again.
    if (answer == kSkip && decision == ERenameAction::Rename) answer = kCancel;
    // After the user's own Cancel the run just ends, whatever the answer.
    if (answer == kCancel && decision != ERenameAction::Cancel) {
        run_.busy.store(false, std::memory_order_relaxed);
        window_.ShowBusy(false);
        run_.retrySong.store(true, std::memory_order_relaxed);
        run_.action.store(ERenameAction::None, std::memory_order_release);
        run_.promptPending.store(true, std::memory_order_release);
    }
    run_.Resume();
}

void CRenameSession::Decide(ERenameAction decision) {
    if (decision == ERenameAction::Cancel ? !cancelEnabled_ : !decisionsEnabled_) return;
    if (decisionsEnabled_) {
        decisionsEnabled_ = false;
        window_.EnableDecisions(false);
        if ((decision == ERenameAction::Rename || decision == ERenameAction::RenameAll) && window_.PatternHasFocus())
            Apply();
        // The worker reads the name only after this decision; once it has
        // one it may be reading it, so a later Cancel leaves it alone.
        CopyBounded(run_.newName, sizeof run_.newName, window_.NewName().c_str());
    }
    if (decision == ERenameAction::Cancel) {
        window_.SetBusyCursor(true);
        cancelEnabled_ = false;
        window_.EnableCancel(false);
    }
    if (decision == ERenameAction::RenameAll) {
        layoutBeforeRenameAll_ = layout_;
        SetLayout(ERenameLayout::ProgressOnly);
        window_.SetCancelTitle("Stop");
    }
    run_.Decide(decision);
}

void CRenameSession::Disclosure() {
    patternRowShown_ = !patternRowShown_;
    SetLayout(patternRowShown_ ? ERenameLayout::Full : ERenameLayout::Compact);
    TakePattern(window_.Pattern());
    window_.FocusNewName();
}

void CRenameSession::Preset(int k) {
    const std::vector<std::string>& presets = RenamePresets();
    if (k < 0 || k >= static_cast<int>(presets.size())) return;
    TakePattern(presets[k]);
    window_.SetPattern(prefs_.renamePattern);
    RefreshProposal();
    FocusAfterPatternChange();
}

void CRenameSession::Apply() {
    TakePattern(window_.Pattern());
    RefreshProposal();
    FocusAfterPatternChange();
}

void CRenameSession::TakePattern(const std::string& pattern) {
    CopyBounded(prefs_.renamePattern, sizeof prefs_.renamePattern, pattern.c_str());
    run_.SetPattern(prefs_.renamePattern);
}

void CRenameSession::RefreshProposal() {
    char proposal[CRenameRun::kNameSize] = {};
    if (CSong* song = CurrentSong(); song != nullptr)
        ExpandPattern(*song, prefs_.renamePattern, proposal, sizeof proposal);
    window_.SetNewName(proposal);
}

void CRenameSession::FocusAfterPatternChange() {
    if (patternRowShown_)
        window_.FocusPattern();
    else
        window_.FocusNewName();
}

void CRenameSession::SetLayout(ERenameLayout layout) {
    layout_ = layout;
    const int height = layout == ERenameLayout::Full      ? kFullHeight
                       : layout == ERenameLayout::Compact ? kCompactHeight
                                                          : kProgressOnlyHeight;
    window_.SetLayout(layout, kWidth, height);
}
