#include "framework/KIT_Mutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

TEST(KIT_Mutex, RecursiveAndBlocksOtherThreadUntilLastUnlock) {
    KIT_Mutex mutex;
    std::atomic<bool> acquired{false};

    mutex.Lock();
    mutex.Lock(); // the same thread may lock again
    std::thread other([&] {
        KIT_Mutex::ScopedLock lock(&mutex);
        acquired = true;
    });

    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(acquired);
    mutex.Unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(acquired) << "one unlock of two must keep the mutex held";
    mutex.Unlock();
    other.join();
    EXPECT_TRUE(acquired);
}

TEST(KIT_Mutex, ScopedLockNestsAndIgnoresNull) {
    KIT_Mutex mutex;
    {
        KIT_Mutex::ScopedLock outer(&mutex);
        KIT_Mutex::ScopedLock inner(&mutex);
        KIT_Mutex::ScopedLock none(nullptr);
    }
    // Released as many times as taken: another thread gets it at once.
    std::atomic<bool> acquired{false};
    std::thread other([&] {
        KIT_Mutex::ScopedLock lock(&mutex);
        acquired = true;
    });
    other.join();
    EXPECT_TRUE(acquired);
}

} // namespace
