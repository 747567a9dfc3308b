#include "toolkit/CurrentTimeMs.h"

#include <atomic>

#ifdef __APPLE__
#include <mach/clock.h>
#include <mach/mach.h>
#else
#include <time.h>
#endif

namespace {

std::atomic<CurrentTimeMsSource> gSource{nullptr};

uint64_t SystemTimeMs() {
#ifdef __APPLE__
    clock_serv_t clock;
    if (host_get_clock_service(mach_host_self(), CALENDAR_CLOCK, &clock) != KERN_SUCCESS) return 0;
    mach_timespec_t ts;
    const kern_return_t read = clock_get_time(clock, &ts);
    mach_port_deallocate(mach_task_self(), clock);
    if (read != KERN_SUCCESS) return 0;
#else
    timespec ts;
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return 0;
#endif
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

} // namespace

uint64_t GetCurrentTimeMs() {
    const CurrentTimeMsSource source = gSource.load(std::memory_order_acquire);
    return source ? source() : SystemTimeMs();
}

void SetCurrentTimeMsSource(CurrentTimeMsSource source) {
    gSource.store(source, std::memory_order_release);
}
