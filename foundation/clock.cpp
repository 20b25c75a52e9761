#include "foundation/clock.h"

#include <chrono>
#include <thread>

namespace {

class CSystemClock : public IClock {
public:
    double Now() override {
        using namespace std::chrono;
        return duration<double>(steady_clock::now().time_since_epoch()).count();
    }
    int64_t WallTime() override {
        using namespace std::chrono;
        return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
    }
    void Sleep(double seconds) override {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }
};

CSystemClock gSystemClock;
IClock* gClock = &gSystemClock;

}  // namespace

IClock& Clock() { return *gClock; }

void SetClock(IClock* clock) { gClock = clock ? clock : &gSystemClock; }

double CManualClock::Now() { return now_; }
int64_t CManualClock::WallTime() { return wall_; }
void CManualClock::Sleep(double seconds) { Advance(seconds); }
void CManualClock::Advance(double seconds) {
    now_.fetch_add(seconds);
    wall_.fetch_add(static_cast<int64_t>(seconds));
}
void CManualClock::SetWallTime(int64_t seconds) { wall_ = seconds; }
