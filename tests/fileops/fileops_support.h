#pragma once
// An application object over a temporary folder: songs made from small files
// written by the test, the user's data folder (Trash, scripts) inside the
// folder, and a bounded loop that ticks until a long operation has ended.

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "app/app.h"
#include "foundation/text.h"
#include "library/file_ref.h"
#include "support/fake_shell.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

class CFileOpsFixture {
public:
    CTempDir dir;
    CScopedEnv dataHome{"XDG_DATA_HOME", dir.File("data").c_str()};
    CRecordingShell shell;
    CApp app{shell, {dir.File("Melodex.prefs"), dir.File("Melodex.cache")}};

    // A song whose file holds bytes (no file when bytes is null).
    CSong& AddSong(const std::string& name, const char* bytes, const char* title = "") {
        auto song = std::make_unique<CSong>();
        if (bytes != nullptr) {
            dir.Write("music/" + name, bytes);
            song->fileRef = MakeFileRef(dir.File("music/" + name).c_str());
        }
        CopyBounded(song->tags.title, sizeof song->tags.title, title);
        song->savedTags = song->tags;
        return app.songs.Append(std::move(song));
    }

    // Ticks until the predicate holds; false after a few seconds.
    template <class Pred>
    bool TickUntil(Pred done) {
        for (int i = 0; i < 5000; ++i) {
            app.Tick();
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
};
