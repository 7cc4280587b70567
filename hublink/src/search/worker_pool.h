// A few threads kept for the whole life of the program, shared by every
// search. Threads started per search cost a start each time and leave a
// malloc arena behind for every new thread, so a window that re-reads its
// hubs after each click would grow without end.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace hublink {

class WorkerPool {
public:
    // Starts one thread running `body`; false when it cannot be started.
    using Starter = std::function<bool(std::function<void()> body)>;

    // At most `maxThreads` threads, started on demand by `start`.
    explicit WorkerPool(std::size_t maxThreads, Starter start = detachedThread);
    // Ends the pool's threads; waits for them to leave their work.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // The pool of the program. It is never destroyed: its threads may still
    // wait for work while the program ends.
    static WorkerPool& shared();

    // Runs task(i) for every i below `count`, on the calling thread and up to
    // `width - 1` threads of the pool, and returns when all have run. Never
    // fails for want of threads: what no pool thread takes, the caller runs.
    // `task` must not throw.
    void run(std::size_t count, std::size_t width, const std::function<void(std::size_t)>& task);

    // Starts threads until `helpers` of them could serve a batch (or the
    // maximum is reached, or no more can be started); how many of them
    // there are then, at most `helpers`.
    std::size_t startUpTo(std::size_t helpers);

    // Threads started so far.
    std::size_t threads() const;

    // A detached thread on a stack of kStackBytes; false when it cannot be
    // started (out of threads or memory).
    static bool detachedThread(std::function<void()> body);

    // A search's thread runs one port's exchanges: a few KiB of frames and
    // the network library's name lookup. Small stacks keep a thousand of
    // them in far less address space than glibc's 8 MiB each.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    static constexpr std::size_t kStackBytes = 4u << 20;  // redzones grow every frame
#else
    static constexpr std::size_t kStackBytes = 512u << 10;
#endif

private:
    struct Batch;
    void workOn(Batch& batch);
    void ensureThreads(std::size_t wanted);
    void serve();

    const std::size_t maxThreads_;
    const Starter start_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::shared_ptr<Batch>> tickets_;  // one entry per helper a batch asked for
    std::size_t threads_ = 0;
    std::size_t idle_ = 0;
    bool stopping_ = false;
    std::condition_variable exited_;
};

}  // namespace hublink
