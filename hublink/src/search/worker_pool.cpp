#include "search/worker_pool.h"

#include "hublink/port_fanout.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <new>

namespace hublink {

struct WorkerPool::Batch {
    const std::function<void(std::size_t)>* task;
    std::size_t count;
    std::atomic<std::size_t> next{0};
    std::size_t finished = 0;  // under the pool's mutex
    std::condition_variable allDone;
};

WorkerPool::WorkerPool(std::size_t maxThreads, Starter start)
    : maxThreads_(maxThreads), start_(std::move(start)) {}

WorkerPool::~WorkerPool() {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    wake_.notify_all();
    exited_.wait(lock, [&] { return threads_ == 0; });
}

WorkerPool& WorkerPool::shared() {
    static WorkerPool* pool = new WorkerPool(kMaxPortsInFlight - 1);
    return *pool;
}

namespace {

void* runBody(void* body) {
    const std::unique_ptr<std::function<void()>> owned(static_cast<std::function<void()>*>(body));
    (*owned)();
    return nullptr;
}

}  // namespace

bool WorkerPool::detachedThread(std::function<void()> body) {
    std::unique_ptr<std::function<void()>> owned;
    try {
        owned = std::make_unique<std::function<void()>>(std::move(body));
    } catch (const std::bad_alloc&) {
        return false;
    }
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return false;
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&attr, kStackBytes);
    pthread_t thread;
    const int err = pthread_create(&thread, &attr, runBody, owned.get());
    pthread_attr_destroy(&attr);
    if (err != 0) return false;  // out of threads or memory: the callers carry on
    owned.release();             // the thread's now
    return true;
}

std::size_t WorkerPool::startUpTo(std::size_t helpers) {
    ensureThreads(helpers);
    std::lock_guard lock(mutex_);
    return std::min(helpers, threads_);
}

std::size_t WorkerPool::threads() const {
    std::lock_guard lock(mutex_);
    return threads_;
}

void WorkerPool::run(std::size_t count, std::size_t width,
                     const std::function<void(std::size_t)>& task) {
    auto batch = std::make_shared<Batch>();
    batch->task = &task;
    batch->count = count;
    const std::size_t helpers = std::min(count, std::max<std::size_t>(width, 1)) - (count > 0 ? 1 : 0);
    {
        std::lock_guard lock(mutex_);
        for (std::size_t h = 0; h < helpers; ++h) tickets_.push_back(batch);
    }
    ensureThreads(helpers);
    wake_.notify_all();
    workOn(*batch);
    std::unique_lock lock(mutex_);
    batch->allDone.wait(lock, [&] { return batch->finished == count; });
    // Tickets no thread took would pile up when no thread can be started.
    std::erase_if(tickets_, [&](const std::shared_ptr<Batch>& t) { return t == batch; });
}

// Takes indices until none is left. A helper that comes after the batch
// ended finds none and never touches the caller's task.
void WorkerPool::workOn(Batch& batch) {
    for (std::size_t i = batch.next++; i < batch.count; i = batch.next++) {
        (*batch.task)(i);
        std::lock_guard lock(mutex_);
        if (++batch.finished == batch.count) batch.allDone.notify_all();
    }
}

void WorkerPool::ensureThreads(std::size_t wanted) {
    std::unique_lock lock(mutex_);
    while (idle_ < wanted && threads_ < maxThreads_) {
        ++threads_;
        ++idle_;
        lock.unlock();
        const bool started = start_([this] { serve(); });
        lock.lock();
        if (!started) {
            --threads_;
            --idle_;
            return;
        }
    }
}

void WorkerPool::serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !tickets_.empty(); });
        if (stopping_) break;
        std::shared_ptr<Batch> batch = std::move(tickets_.front());
        tickets_.pop_front();
        --idle_;
        lock.unlock();
        workOn(*batch);
        batch.reset();
        lock.lock();
        ++idle_;
    }
    // The last touch of the pool: its destructor waits for this.
    --threads_;
    exited_.notify_all();
}

}  // namespace hublink
