#pragma once
// nn::Dispatcher: the engine's worker pool. Every split operation cuts its
// range into threadsCount() contiguous parts, adds one task per part and
// joins before it returns. With one thread no thread is started and every
// task runs inline on the caller's thread.
//
// Tasks live in a fixed ring of preallocated slots, so add() and join()
// never allocate: a task is any trivially copyable callable of at most
// kTaskBytes bytes (a lambda capturing a few pointers or references).
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <type_traits>
#include <vector>

namespace nn {

class Dispatcher {
public:
    static constexpr int kMaxThreads = 16;
    static constexpr size_t kTaskBytes = 48;
    static constexpr size_t kQueueSlots = 64;

    // As Dispatcher(std::thread::hardware_concurrency()). [control thread]
    Dispatcher();
    // threadsCount() = min(requested, 16), and 1 for a request of 0. Starts
    // that many workers unless it is 1. A worker that cannot be started is
    // reported, the started ones are stopped and the pool runs every task
    // inline; isValid() then gives false. Never throws. [control thread]
    explicit Dispatcher(unsigned requested);
    // Sets the exit flag and joins the workers; queued tasks run first.
    ~Dispatcher();
    Dispatcher(const Dispatcher&) = delete;
    Dispatcher& operator=(const Dispatcher&) = delete;

    int threadsCount() const { return threadsCount_; }
    // False when the workers could not be started.
    bool isValid() const { return valid_; }

    // Queues a copy of task (runs it at once with one thread). Waits for a
    // free slot when kQueueSlots tasks are queued. No allocation. [one
    // caller thread at a time]
    template <typename F> void add(const F& task) {
        static_assert(std::is_trivially_copyable<F>::value, "tasks must be trivially copyable");
        static_assert(sizeof(F) <= kTaskBytes, "task too large for a slot");
        static_assert(alignof(F) <= alignof(std::max_align_t), "task over-aligned");
        if (runsInline()) {
            task();
            return;
        }
        Task slot;
        slot.invoke = [](const void* storage) { (*static_cast<const F*>(storage))(); };
        std::memcpy(slot.storage, &task, sizeof(F));
        enqueue(slot);
    }

    // Waits until every queued task has finished; returns at once with one
    // thread. No allocation. [the adding thread]
    void join();

    // Tasks queued and not finished (0 with one thread). [any thread]
    unsigned pendingTasks() const;

    // The splitting rule: part `index` of `parts` over [0, n) is
    // [size * index, index == parts - 1 ? n : size * (index + 1)), with
    // size = n / parts; every part but the last has n / parts items.
    static void partRange(int n, int parts, int index, int& start, int& end);

    // Runs body(start, end) for every non-empty part of [0, n) on the pool
    // and joins. body must outlive the call (it is referenced, not copied).
    // No allocation. [one caller thread at a time]
    template <typename Body> void run(int n, const Body& body) {
        const int parts = threadsCount_;
        for (int i = 0; i < parts; ++i) {
            const Body* b = &body;
            add([b, n, parts, i] {
                int start, end;
                partRange(n, parts, i, start, end);
                if (start != end) (*b)(start, end);
            });
        }
        join();
    }

    // Test seam: after the next `after` worker starts succeed, `count`
    // starts fail as if the platform refused to create the thread.
    // [test thread]
    static void failThreadStartsForTesting(int count, int after = 0);

private:
    struct Task {
        void (*invoke)(const void* storage) = nullptr;
        alignas(std::max_align_t) unsigned char storage[kTaskBytes];
    };

    bool runsInline() const { return threadsCount_ == 1 || !valid_; }
    void enqueue(const Task& task);
    void workerLoop();
    void stopWorkers();

    std::mutex queueMutex_;
    std::condition_variable queueCondition_;
    std::condition_variable spaceCondition_; // a slot was freed
    Task tasks_[kQueueSlots];
    size_t head_ = 0; // oldest queued task
    size_t queued_ = 0;
    std::vector<std::thread> threads_;
    int threadsCount_ = 1;
    bool valid_ = true;
    bool exit_ = false;
    mutable std::mutex pendingMutex_;
    std::condition_variable finishedCondition_;
    unsigned pending_ = 0;
};

} // namespace nn
