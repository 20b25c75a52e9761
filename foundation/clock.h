#pragma once
// The one source of "now" for deadlines, pauses, version-check times and
// ticks. Tests install a manual clock and drive time instead of sleeping.

#include <atomic>
#include <cstdint>

class IClock {
public:
    virtual ~IClock() = default;
    // Seconds on a monotonic scale (only differences matter).
    virtual double Now() = 0;
    // Seconds since the Unix epoch (wall time, for stored dates).
    virtual int64_t WallTime() = 0;
    // Waits (or, for a test clock, advances time) for the given seconds.
    virtual void Sleep(double seconds) = 0;
};

IClock& Clock();
// Installs a clock (null restores the system clock). Not thread-safe: call it
// before any worker starts.
void SetClock(IClock* clock);

// A clock that moves only when told; Sleep advances it.
class CManualClock : public IClock {
public:
    double Now() override;
    int64_t WallTime() override;
    void Sleep(double seconds) override;
    void Advance(double seconds);
    void SetWallTime(int64_t seconds);

private:
    // Atomic: workers read the time while the test thread advances it.
    std::atomic<double> now_{1000.0};
    std::atomic<int64_t> wall_{1'700'000'000};
};
