#include "foundation/detached_thread.h"

#include <atomic>
#include <chrono>

namespace {
std::atomic<int> gRunning{0};
}  // namespace

namespace detached_thread_detail {
void Started() { gRunning.fetch_add(1); }
void Ended() { gRunning.fetch_sub(1); }
}  // namespace detached_thread_detail

bool WaitForDetachedThreads(int limitMs) {
    for (int waited = 0; gRunning.load() > 0; waited += 5) {
        if (waited >= limitMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
