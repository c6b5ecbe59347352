#pragma once

// A second thread that a reading pass hands part of its work to. Its owner
// (the engine's reader, a tool) keeps it for as long as it reads: the thread
// starts with the object and is joined when the object is destroyed, so the
// owner decides when that happens (before a module is unloaded, never from a
// static destructor), and no pass pays for starting a thread.

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace hud {

class HelperThread {
public:
    // Starts the thread; throws std::system_error when it cannot.
    HelperThread();
    // Joins the thread. Every task posted must have been waited for.
    ~HelperThread();
    HelperThread(const HelperThread&) = delete;
    HelperThread& operator=(const HelperThread&) = delete;

    // Runs task(context) on the thread. One task at a time: each post is
    // followed by a wait before the next.
    void post(void (*task)(void*), void* context);
    // Returns once the task posted last has returned, rethrowing what it
    // threw. Meanwhile it runs the side tasks the task hands back.
    void wait();

private:
    friend class SideTask;

    void run();
    // Runs the side task posted, if no one has taken it yet.
    void takeSide();

    std::mutex lock_;
    std::condition_variable posted_;
    std::condition_variable finished_;
    void (*task_)(void*) = nullptr;
    void* context_ = nullptr;
    std::exception_ptr error_;
    bool stop_ = false;
    // Tasks posted and finished so far. Set under lock_, read without it by
    // the short spins that spare a pass the sleeping thread's wake-up.
    std::atomic<unsigned> postedCount_{0};
    std::atomic<unsigned> finishedCount_{0};
    // The side slot: kSideFree, or a task posted, taken by the waiting
    // thread, or done there. The task, its context and its error are
    // written only by the side that owns the slot's current state.
    std::atomic<int> side_{0};
    void (*sideTask_)(void*) = nullptr;
    void* sideContext_ = nullptr;
    std::exception_ptr sideError_;
    std::thread thread_;
};

// A task posted for as long as this lives: leaving the scope by any way,
// an exception included, waits for it, so nothing the task works on goes
// away under it.
class HelperTask {
public:
    // Posts task(context) to `helper`; with none, does nothing.
    HelperTask(HelperThread* helper, void (*task)(void*), void* context);
    ~HelperTask();
    HelperTask(const HelperTask&) = delete;
    HelperTask& operator=(const HelperTask&) = delete;

    bool posted() const { return helper_ != nullptr; }
    // Waits for the task, rethrowing what it threw; then does nothing more.
    void finish();

private:
    HelperThread* helper_;
};

// Part of a task that the thread waiting for that task may run instead:
// a task on the helper thread hands a share of its work back to the caller
// that has finished its own and only waits. Made anywhere else (no helper
// task running, the slot taken), it is run by finish(), on this thread.
// Whoever runs it, it runs once and with the same inputs, so the results
// do not depend on which thread took it; its inputs must stay unchanged
// and its outputs apart from everything the posting thread touches until
// finish() returns.
class SideTask {
public:
    SideTask(void (*task)(void*), void* context);
    // Whether a side task made now would be offered to a waiting thread:
    // work that is split only to be shared asks this first.
    static bool offered();
    // Finishes the task if finish() was not called, swallowing its error:
    // left by an exception of the poster's own, which goes on.
    ~SideTask();
    SideTask(const SideTask&) = delete;
    SideTask& operator=(const SideTask&) = delete;

    // Returns once the task has run: here if the waiting thread has not
    // taken it, else after that thread is done. Rethrows what it threw.
    void finish();

private:
    HelperThread* helper_ = nullptr; // where the task was posted
    void (*task_)(void*);
    void* context_;
    bool done_ = false;
};

} // namespace hud
