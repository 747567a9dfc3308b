#pragma once
// Counts heap allocations made anywhere in the test process (global operator
// new and the KIT_ container hooks) while an AllocCounter is alive. Used to
// show that the audio path allocates nothing once it has been prepared.
#include <cstdint>

namespace testsupport {

class AllocCounter {
public:
    AllocCounter();
    ~AllocCounter();
    AllocCounter(const AllocCounter&) = delete;
    AllocCounter& operator=(const AllocCounter&) = delete;

    // Allocations since construction or the last Reset().
    int64_t Count() const;
    void Reset();
};

// Threads of this process now (from /proc/self/status), -1 when unknown.
int ThreadCount();

} // namespace testsupport
