#include "drive/jobs.h"

#include <memory>
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
        // Progress is coalesced: at most one progress task waits in the
        // owner's queue, and it shows the latest count when it runs, so a fast
        // job cannot flood a slow view. The state is shared with that task,
        // which may run after the job (or the runner) has gone.
        struct Progress {
            std::mutex mutex;
            std::size_t done = 0;
            std::size_t total = 0;
            bool queued = false;
        };
        auto state = std::make_shared<Progress>();
        auto onProgress = job.onProgress;
        const auto post = post_;
        JobContext context(cancel_, [state, onProgress, post](std::size_t done, std::size_t total) {
            if (!onProgress || !post) return;
            {
                std::lock_guard lock(state->mutex);
                state->done = done;
                state->total = total;
                if (state->queued) return;
                state->queued = true;
            }
            post([state, onProgress] {
                std::size_t d = 0;
                std::size_t t = 0;
                {
                    std::lock_guard lock(state->mutex);
                    d = state->done;
                    t = state->total;
                    state->queued = false;
                }
                onProgress(d, t);
            });
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
