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
    // threw.
    void wait();

private:
    void run();

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

} // namespace hud
