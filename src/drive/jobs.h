#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "drive/parameters.h"

namespace drive {

// Hands a function to the thread that owns the view (the dialog layer's
// post); the runner never calls the view directly.
using PostFunction = std::function<void(std::function<void()>)>;

// What a job body gets: its cancel flag and its progress report.
class JobContext {
  public:
    bool cancelled() const { return cancel_.load(std::memory_order_acquire); }
    // Posts the progress to the job's onProgress (the owner's thread).
    void progress(std::size_t done, std::size_t total);
    // Progress and cancel in the form the bulk operations take.
    BulkControl control();

  private:
    friend class JobRunner;
    JobContext(const std::atomic<bool>& cancel, std::function<void(std::size_t, std::size_t)> p)
        : cancel_(cancel), progress_(std::move(p)) {}
    const std::atomic<bool>& cancel_;
    std::function<void(std::size_t, std::size_t)> progress_;
};

struct Job {
    std::string name;  // "EEPROM store", for the owner's busy text
    // Runs on the job thread.
    std::function<void(JobContext&)> body;
    // Posted to the owner's thread; calls that come faster than the owner
    // runs its posted work are merged into one with the latest count.
    std::function<void(std::size_t done, std::size_t total)> onProgress;
    std::function<void()> onDone;
};

// Runs one long operation at a time on its own thread, beside the poll loop.
// Progress and completion reach the owner through the post function given at
// construction, never by a direct call from the job thread.
//
// Threads: start, cancel, busy, wait come from the owner's thread (busy and
// wait from any). The destructor cancels a running job, waits for it and
// joins the thread; what a job uses must outlive the runner.
class JobRunner {
  public:
    explicit JobRunner(PostFunction post);
    ~JobRunner();
    JobRunner(const JobRunner&) = delete;
    JobRunner& operator=(const JobRunner&) = delete;

    // Starts the job; false (nothing started) while another job runs.
    bool start(Job job);
    bool busy() const;
    // The running job's name ("" when idle).
    std::string current() const;
    // Asks the running job to stop at its next check.
    void cancel();
    // Blocks until no job runs (for closing the window).
    void wait();
    // As wait, at most `timeout`; true when idle.
    bool waitFor(std::chrono::milliseconds timeout);

  private:
    void run();

    PostFunction post_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;  // a job to run, or stop
    std::condition_variable idle_;  // a job ended
    Job pending_;
    bool hasPending_ = false;
    bool running_ = false;
    bool stop_ = false;
    std::string currentName_;
    std::atomic<bool> cancel_{false};
    std::thread thread_;  // last: started after the rest is constructed
};

}  // namespace drive
