#pragma once
// The program's one wall-clock source, in milliseconds since the calendar
// clock's epoch (1970-01-01 UTC).
#include <cstdint>

// [any thread] no allocation, no locks. seconds * 1000 + nanoseconds / 1e6 of
// the calendar clock, or of the source installed below; 0 when the system
// clock cannot be read.
uint64_t GetCurrentTimeMs();

// [any thread] Replacement clock for tests (double clicks, animations): GetCurrentTimeMs
// returns source() while one is installed; null restores the system clock.
using CurrentTimeMsSource = uint64_t (*)();
void SetCurrentTimeMsSource(CurrentTimeMsSource source);
