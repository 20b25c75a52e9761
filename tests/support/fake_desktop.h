#pragma once
// A desktop that records the scripts, reveals and launches asked of it,
// installed for one scope. A script run can be held until the test lets it
// finish, to catch a worker in the middle of its work.

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/desktop.h"

class CRecordingDesktop : public IDesktop {
public:
    CRecordingDesktop() { SetDesktop(this); }
    ~CRecordingDesktop() override { SetDesktop(nullptr); }
    CRecordingDesktop(const CRecordingDesktop&) = delete;
    CRecordingDesktop& operator=(const CRecordingDesktop&) = delete;

    int32_t RunScript(const std::string& script, std::string* result) override {
        std::unique_lock<std::mutex> lock(mutex_);
        scripts_.push_back(script);
        changed_.notify_all();
        changed_.wait(lock, [this] { return !holdScripts_; });
        return IDesktop::RunScript(script, result);
    }
    void RevealFile(const std::string& path) override {
        std::lock_guard<std::mutex> lock(mutex_);
        revealed_.push_back(path);
    }
    bool Launch(const std::vector<std::string>& argv) override {
        std::lock_guard<std::mutex> lock(mutex_);
        launched_.push_back(argv);
        return true;
    }

    void HoldScripts(bool hold) {
        std::lock_guard<std::mutex> lock(mutex_);
        holdScripts_ = hold;
        changed_.notify_all();
    }
    std::vector<std::string> Scripts() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return scripts_;
    }
    std::vector<std::string> Revealed() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return revealed_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool holdScripts_ = false;
    std::vector<std::string> scripts_;
    std::vector<std::string> revealed_;
    std::vector<std::vector<std::string>> launched_;
};
