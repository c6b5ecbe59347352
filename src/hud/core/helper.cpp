#include "hud/core/helper.h"

#include <chrono>

namespace hud {

namespace {

// A pass posts its second task a few tens of microseconds after the first
// one ends, and most tasks end within a millisecond of being waited for. A
// thread woken from sleep starts that late again, and more so on a busy
// machine, so each side looks for the other's signal a while before it
// sleeps. The helper's spin ends long before the next pass's post; the
// waiting caller's is kept short, since it spins while the task runs.
constexpr auto kHelperSpin = std::chrono::microseconds(300);
constexpr auto kCallerSpin = std::chrono::microseconds(50);

template <typename Done> bool spinFor(std::chrono::microseconds limit, Done done) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::yield();
    }
    return true;
}

} // namespace

HelperThread::HelperThread() : thread_([this] { run(); }) {}

HelperThread::~HelperThread() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stop_ = true;
    }
    posted_.notify_one();
    thread_.join();
}

void HelperThread::post(void (*task)(void*), void* context) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        task_ = task;
        context_ = context;
        error_ = nullptr;
        postedCount_.store(postedCount_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }
    posted_.notify_one();
}

void HelperThread::wait() {
    const unsigned target = postedCount_.load(std::memory_order_relaxed);
    if (!spinFor(kCallerSpin, [&] { return finishedCount_.load(std::memory_order_acquire) == target; })) {
        std::unique_lock<std::mutex> guard(lock_);
        finished_.wait(guard, [&] { return finishedCount_.load(std::memory_order_relaxed) == target; });
    }
    std::exception_ptr error;
    {
        std::lock_guard<std::mutex> guard(lock_);
        error.swap(error_);
    }
    if (error)
        std::rethrow_exception(error);
}

void HelperThread::run() {
    unsigned done = 0;
    for (;;) {
        spinFor(kHelperSpin, [&] { return postedCount_.load(std::memory_order_acquire) != done; });
        void (*task)(void*) = nullptr;
        void* context = nullptr;
        {
            std::unique_lock<std::mutex> guard(lock_);
            posted_.wait(guard,
                         [&] { return stop_ || postedCount_.load(std::memory_order_relaxed) != done; });
            if (postedCount_.load(std::memory_order_relaxed) == done)
                return; // stopped with nothing left to run
            task = task_;
            context = context_;
        }
        std::exception_ptr error;
        try {
            task(context);
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> guard(lock_);
            error_ = error;
            ++done;
            finishedCount_.store(done, std::memory_order_release);
        }
        finished_.notify_one();
    }
}

HelperTask::HelperTask(HelperThread* helper, void (*task)(void*), void* context) : helper_(helper) {
    if (helper_)
        helper_->post(task, context);
}

HelperTask::~HelperTask() {
    if (!helper_)
        return;
    try {
        helper_->wait();
    } catch (...) {
        // Left by an exception of the caller's own, which goes on.
    }
}

void HelperTask::finish() {
    HelperThread* helper = helper_;
    helper_ = nullptr;
    if (helper)
        helper->wait();
}

} // namespace hud
