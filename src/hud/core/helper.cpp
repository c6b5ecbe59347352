#include "hud/core/helper.h"

#include <chrono>

namespace hud {

namespace {

// A pass posts its second task a few tens of microseconds after the first
// one ends, and most tasks end within a millisecond of being waited for. A
// thread woken from sleep starts that late again, and more so on a busy
// machine, so each side looks for the other's signal a while before it
// sleeps. The helper's spin ends long before the next pass's post. The
// waiting caller spins while the task runs, for as long as a pass's reward
// lines take: they hand it side tasks, which it takes only while awake.
// Past that the task runs its side tasks itself.
constexpr auto kHelperSpin = std::chrono::microseconds(300);
constexpr auto kCallerSpin = std::chrono::microseconds(3000);

// The states of the side slot. Posted and free are set by the helper
// thread, taken and done by the waiting one.
constexpr int kSideFree = 0;
constexpr int kSidePosted = 1;
constexpr int kSideTaken = 2;
constexpr int kSideDone = 3;

// The helper whose task this thread runs, for the side tasks it posts.
thread_local HelperThread* runningTaskOf = nullptr;

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
    const bool done = spinFor(kCallerSpin, [&] {
        if (side_.load(std::memory_order_relaxed) == kSidePosted)
            takeSide();
        return finishedCount_.load(std::memory_order_acquire) == target;
    });
    if (!done) {
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

void HelperThread::takeSide() {
    int expected = kSidePosted;
    if (!side_.compare_exchange_strong(expected, kSideTaken, std::memory_order_acquire,
                                       std::memory_order_relaxed))
        return;
    std::exception_ptr error;
    try {
        sideTask_(sideContext_);
    } catch (...) {
        error = std::current_exception();
    }
    sideError_ = error;
    side_.store(kSideDone, std::memory_order_release);
}

void HelperThread::run() {
    runningTaskOf = this;
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

bool SideTask::offered() {
    // Only the helper thread moves the slot off kSideFree; a side task
    // posted already (one inside another) leaves the next to run here.
    const HelperThread* helper = runningTaskOf;
    return helper && helper->side_.load(std::memory_order_relaxed) == kSideFree;
}

SideTask::SideTask(void (*task)(void*), void* context) : task_(task), context_(context) {
    if (!offered())
        return;
    HelperThread* helper = runningTaskOf;
    helper->sideTask_ = task;
    helper->sideContext_ = context;
    helper->sideError_ = nullptr;
    helper->side_.store(kSidePosted, std::memory_order_release);
    helper_ = helper;
}

SideTask::~SideTask() {
    try {
        finish();
    } catch (...) {
        // Left by an exception of the poster's own, which goes on.
    }
}

void SideTask::finish() {
    if (done_)
        return;
    done_ = true;
    HelperThread* helper = helper_;
    if (helper) {
        int expected = kSidePosted;
        if (!helper->side_.compare_exchange_strong(expected, kSideFree, std::memory_order_acquire,
                                                   std::memory_order_relaxed)) {
            // Taken: the waiting thread is running it, briefly.
            while (helper->side_.load(std::memory_order_acquire) != kSideDone)
                std::this_thread::yield();
            std::exception_ptr error;
            error.swap(helper->sideError_);
            helper->side_.store(kSideFree, std::memory_order_relaxed);
            if (error)
                std::rethrow_exception(error);
            return;
        }
    }
    task_(context_);
}

} // namespace hud
