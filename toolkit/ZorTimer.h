#pragma once
// Millisecond stopwatch over GetCurrentTimeMs that can print its total to a
// file of the debug folder now and then. A clock that is set back while the
// timer runs adds nothing for that span.
// [any thread] one timer per thread; no allocation, no locks, except that
// StopAndPrint writes a file when it prints (never on the audio thread).
#include <cstdint>

class ZorTimer {
public:
    // Not running, total 0.
    ZorTimer();
    virtual ~ZorTimer() = default;

    void Reset();
    // Reset, and *counter = 0 (a null counter is skipped).
    void Reset(long* counter);
    void Start();
    // Adds the time since the last Start to the total.
    void Stop();
    // Milliseconds: the total, plus the time since Start while running.
    uint64_t Get() const;

    // Stop; then count the call in *counter. On every 52nd call (the counter
    // was above 50 before it was incremented) formats Get() with `format` (a
    // printf format taking one unsigned long long), appends it as a line to
    // fileName in the debug folder, and restarts: total 0, *counter 0. A null
    // counter only stops; a null format or file name prints nothing.
    void StopAndPrint(long* counter, const char* fileName, const char* format);

private:
    uint64_t mStart = 0;
    uint64_t mTotal = 0;
    bool mRunning = false;
};
