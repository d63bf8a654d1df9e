#include "drive/jobs.h"

#include <utility>

namespace drive {

void JobContext::progress(std::size_t done, std::size_t total) {
    if (progress_) progress_(done, total);
}

BulkControl JobContext::control() {
    BulkControl c;
    c.cancel = &cancel_;
    c.progress = [this](std::size_t done, std::size_t total) { progress(done, total); };
    return c;
}

JobRunner::JobRunner(PostFunction post) : post_(std::move(post)) {
    thread_ = std::thread([this] { run(); });
}

JobRunner::~JobRunner() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        hasPending_ = false;
    }
    cancel_.store(true, std::memory_order_release);
    wake_.notify_all();
    // A request in flight ends within its own time-out; everything the job
    // uses stays until the thread is joined.
    if (thread_.joinable()) thread_.join();
}

bool JobRunner::start(Job job) {
    {
        std::lock_guard lock(mutex_);
        if (stop_ || running_ || hasPending_) return false;
        pending_ = std::move(job);
        hasPending_ = true;
        // Busy from here on, so that a second start is refused even before
        // the thread has picked the job up.
        running_ = true;
        currentName_ = pending_.name;
        cancel_.store(false, std::memory_order_release);
    }
    wake_.notify_all();
    return true;
}

bool JobRunner::busy() const {
    std::lock_guard lock(mutex_);
    return running_;
}

std::string JobRunner::current() const {
    std::lock_guard lock(mutex_);
    return running_ ? currentName_ : std::string();
}

void JobRunner::cancel() {
    cancel_.store(true, std::memory_order_release);
}

void JobRunner::wait() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return !running_; });
}

bool JobRunner::waitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, timeout, [this] { return !running_; });
}

void JobRunner::run() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stop_ || hasPending_; });
            if (!hasPending_) {
                // Stopping: a job started but not picked up never runs.
                running_ = false;
                idle_.notify_all();
                return;
            }
            job = std::move(pending_);
            pending_ = Job{};
            hasPending_ = false;
        }
        auto onProgress = job.onProgress;
        const auto post = post_;
        JobContext context(cancel_, [onProgress, post](std::size_t done, std::size_t total) {
            if (onProgress && post) post([onProgress, done, total] { onProgress(done, total); });
        });
        if (job.body) job.body(context);
        // The completion is posted before the runner reports idle, so that an
        // owner that waits and then drains its posted work sees it.
        if (job.onDone && post_) post_(std::move(job.onDone));
        {
            std::lock_guard lock(mutex_);
            running_ = false;
            currentName_.clear();
        }
        idle_.notify_all();
    }
}

}  // namespace drive
