#include "nn/nn_dispatcher.h"

#include "nn/nn_parser.h"

#include <atomic>
#include <cassert>
#include <system_error>

namespace nn {

namespace {
std::atomic<int> gSucceedingThreadStarts{0};
std::atomic<int> gFailingThreadStarts{0};

// Takes one from counter if it is positive.
bool takeOne(std::atomic<int>& counter) {
    int left = counter.load();
    while (left > 0)
        if (counter.compare_exchange_weak(left, left - 1)) return true;
    return false;
}

bool takeInjectedFailure() {
    if (takeOne(gSucceedingThreadStarts)) return false;
    return takeOne(gFailingThreadStarts);
}
} // namespace

void Dispatcher::failThreadStartsForTesting(int count, int after) {
    gSucceedingThreadStarts.store(count > 0 ? after : 0);
    gFailingThreadStarts.store(count);
}

Dispatcher::Dispatcher() : Dispatcher(std::thread::hardware_concurrency()) {}

Dispatcher::Dispatcher(unsigned requested) {
    threadsCount_ = requested == 0 ? 1 : (requested > kMaxThreads ? kMaxThreads : int(requested));
    if (threadsCount_ == 1) return;
    try {
        threads_.reserve(size_t(threadsCount_));
        for (int i = 0; i < threadsCount_; ++i) {
            if (takeInjectedFailure())
                throw std::system_error(
                    std::make_error_code(std::errc::resource_unavailable_try_again),
                    "thread constructor failed");
            threads_.emplace_back([this] { workerLoop(); });
        }
    } catch (const std::exception& e) {
        NN_ERROR("Worker thread start failed: " << e.what());
        stopWorkers();
        valid_ = false;
    }
}

Dispatcher::~Dispatcher() {
    stopWorkers();
}

void Dispatcher::stopWorkers() {
    if (threads_.empty()) return;
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        exit_ = true;
    }
    queueCondition_.notify_all();
    for (std::thread& t : threads_) t.join();
    threads_.clear();
}

void Dispatcher::enqueue(const Task& task) {
    std::unique_lock<std::mutex> lock(queueMutex_);
    spaceCondition_.wait(lock, [this] { return queued_ < kQueueSlots; });
    tasks_[(head_ + queued_) % kQueueSlots] = task;
    ++queued_;
    queueCondition_.notify_one();
    // Counted while the queue is still locked, so no worker can finish the
    // task before it is pending.
    std::lock_guard<std::mutex> pendingLock(pendingMutex_);
    ++pending_;
}

void Dispatcher::join() {
    if (runsInline()) return;
    std::unique_lock<std::mutex> lock(pendingMutex_);
    finishedCondition_.wait(lock, [this] { return pending_ == 0; });
}

unsigned Dispatcher::pendingTasks() const {
    if (runsInline()) return 0;
    std::lock_guard<std::mutex> lock(pendingMutex_);
    return pending_;
}

void Dispatcher::partRange(int n, int parts, int index, int& start, int& end) {
    assert(parts >= 1 && index >= 0 && index < parts);
    const int size = n / parts;
    start = size * index;
    end = index == parts - 1 ? n : start + size;
}

void Dispatcher::workerLoop() {
    for (;;) {
        Task task;
        {
            std::unique_lock<std::mutex> lock(queueMutex_);
            queueCondition_.wait(lock, [this] { return exit_ || queued_ != 0; });
            // The queue drains before an exit request ends the worker.
            if (queued_ == 0) return;
            task = tasks_[head_];
            head_ = (head_ + 1) % kQueueSlots;
            --queued_;
        }
        spaceCondition_.notify_one();
        task.invoke(task.storage);
        bool finished;
        {
            std::lock_guard<std::mutex> lock(pendingMutex_);
            finished = --pending_ == 0;
        }
        if (finished) finishedCondition_.notify_one();
    }
}

} // namespace nn
