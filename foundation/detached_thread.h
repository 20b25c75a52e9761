#pragma once
// Workers that own their record and free it themselves (connections, transfer
// jobs, analysis jobs) run on detached threads. They are counted, so that a
// program can wait for the last of them before it ends: a thread still
// running at exit would meet library state that exit handlers already freed.

#include <thread>
#include <utility>

namespace detached_thread_detail {
void Started();
void Ended();
}  // namespace detached_thread_detail

// Runs body on a detached thread; body and everything it captured are
// destroyed before the thread counts as ended. Throws std::system_error when
// no thread can be started.
template <typename F>
void StartDetachedThread(F&& body) {
    detached_thread_detail::Started();
    try {
        std::thread([body = std::forward<F>(body)]() mutable {
            {
                auto local = std::move(body);
                local();
            }
            detached_thread_detail::Ended();
        }).detach();
    } catch (...) {
        detached_thread_detail::Ended();
        throw;
    }
}

// Waits in real time, at most limitMs milliseconds, until no detached worker
// runs; false when some still do.
bool WaitForDetachedThreads(int limitMs);
