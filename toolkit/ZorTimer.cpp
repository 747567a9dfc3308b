#include "toolkit/ZorTimer.h"

#include "toolkit/CurrentTimeMs.h"
#include "toolkit/DebugDump.h"

#include <cstdio>

namespace {

// A clock set back between start and now counts as no time passed, not as
// an unsigned wrap to some 10^19 ms.
uint64_t Elapsed(uint64_t start, uint64_t now) {
    return now > start ? now - start : 0;
}

} // namespace

ZorTimer::ZorTimer() {
    Reset();
}

void ZorTimer::Reset() {
    mStart = GetCurrentTimeMs();
    mTotal = 0;
    mRunning = false;
}

void ZorTimer::Reset(long* counter) {
    Reset();
    if (counter) *counter = 0;
}

void ZorTimer::Start() {
    mStart = GetCurrentTimeMs();
    mRunning = true;
}

void ZorTimer::Stop() {
    const uint64_t now = GetCurrentTimeMs();
    mTotal += Elapsed(mStart, now);
    mStart = now;
    mRunning = false;
}

uint64_t ZorTimer::Get() const {
    return mRunning ? mTotal + Elapsed(mStart, GetCurrentTimeMs()) : mTotal;
}

void ZorTimer::StopAndPrint(long* counter, const char* fileName, const char* format) {
    Stop();
    if (!counter) return;
    if ((*counter)++ <= 50) return;
    if (fileName && format) {
        char line[1024];
        std::snprintf(line, sizeof line, format, static_cast<unsigned long long>(Get()));
        DumpText(fileName, line);
    }
    Reset(counter);
}
