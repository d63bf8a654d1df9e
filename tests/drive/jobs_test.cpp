// The job runner with the drive services: long work beside a polling thread,
// progress and completion through the owner's post, cancel, and waiting for
// the end without sleeping. These run under ThreadSanitizer too.
#include "drive/jobs.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "drive/parameters.h"
#include "drive/scope.h"
#include "drive/status.h"
#include "drive_rig.h"

namespace {

using drive::Error;
using drivetest::Rig;
using namespace std::chrono_literals;

// The owner's thread: posted work waits in a queue until the test runs it.
class PostQueue {
  public:
    drive::PostFunction post() {
        return [this](std::function<void()> task) {
            {
                std::lock_guard lock(mutex_);
                tasks_.push_back(std::move(task));
            }
            ready_.notify_all();
        };
    }
    // Runs what was posted; returns how many.
    int drain() {
        std::deque<std::function<void()>> tasks;
        {
            std::lock_guard lock(mutex_);
            tasks.swap(tasks_);
        }
        for (auto& t : tasks) t();
        return static_cast<int>(tasks.size());
    }
    // Runs posted work until `done` holds or the deadline passes.
    bool runUntil(const std::function<bool()>& done, std::chrono::seconds limit = 30s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            std::unique_lock lock(mutex_);
            if (!ready_.wait_until(lock, deadline, [this] { return !tasks_.empty(); }))
                return false;
            lock.unlock();
            drain();
        }
        return true;
    }

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> tasks_;
};

struct JobRig : Rig {
    drive::ParameterService parameters{session, language.parameters()};
    drive::StatusService status{session, language.statusItems()};
    explicit JobRig(std::vector<std::string> args = {}) : Rig(std::move(args)) {}
};

TEST(DriveJobs, AnImportRunsBesideThePollAndSharesTheLink) {
    JobRig rig;
    rig.connect();
    PostQueue owner;
    const std::thread::id ownerThread = std::this_thread::get_id();
    drive::BulkReport report;
    bool done = false;
    std::size_t lastProgress = 0;
    bool progressOnOwner = true;
    {
        drive::JobRunner jobs(owner.post());
        drive::Job job;
        job.name = "factory values";
        job.body = [&](drive::JobContext& c) {
            report = rig.parameters.factoryValues(c.control());
        };
        job.onProgress = [&](std::size_t d, std::size_t) {
            lastProgress = d;
            progressOnOwner = progressOnOwner && std::this_thread::get_id() == ownerThread;
        };
        job.onDone = [&] { done = true; };

        // A poll thread beside the job, as the poll loop runs.
        std::atomic<bool> stopPoll{false};
        std::atomic<int> pollsDuringJob{0};
        std::atomic<int> failedPolls{0};
        ASSERT_TRUE(jobs.start(std::move(job)));
        EXPECT_TRUE(jobs.busy());
        EXPECT_EQ(jobs.current(), "factory values");
        EXPECT_FALSE(jobs.start(drive::Job{}));
        std::thread poll([&] {
            while (!stopPoll.load()) {
                const bool running = jobs.busy();
                if (!rig.status.poll().ok()) failedPolls.fetch_add(1);
                if (running && jobs.busy()) pollsDuringJob.fetch_add(1);
            }
        });
        ASSERT_TRUE(owner.runUntil([&] { return done; }));
        jobs.wait();
        EXPECT_FALSE(jobs.busy());
        stopPoll.store(true);
        poll.join();
        EXPECT_EQ(failedPolls.load(), 0);
        // The channel lock serves in arrival order: the poll kept going.
        EXPECT_GE(pollsDuringJob.load(), 3);
    }
    EXPECT_TRUE(report.ok()) << report.summary() << " " << report.result.cause();
    EXPECT_EQ(
        report.count(drive::ItemOutcome::written) + report.count(drive::ItemOutcome::unchanged),
        rig.language.parameters().size());
    EXPECT_GT(lastProgress, 0u);
    EXPECT_TRUE(progressOnOwner);
}

TEST(DriveJobs, StoreAllAsAJobLeavesTheOwnerFree) {
    JobRig rig({"--eeprom-ms", "800"});
    rig.connect();
    PostQueue owner;
    drive::JobRunner jobs(owner.post());
    drive::Result result = drive::Result::failure(Error::busy);
    std::atomic<bool> finished{false};
    drive::Job job;
    job.name = "EEPROM store";
    job.body = [&](drive::JobContext&) {
        result = rig.parameters.storeAll();
        finished.store(true);
    };
    ASSERT_TRUE(jobs.start(std::move(job)));
    // The owner is not blocked: it gets here while the store is still running
    // (the drive takes 800 ms to answer).
    EXPECT_FALSE(finished.load());
    EXPECT_FALSE(jobs.waitFor(1ms));
    jobs.wait();
    EXPECT_TRUE(finished.load());
    EXPECT_TRUE(result.ok()) << result.cause();
}

TEST(DriveJobs, CancelStopsABackupReadAndTheRunnerJoinsOnDestruction) {
    JobRig rig;
    rig.connect(drive::RequestTiming{100, 0});
    PostQueue owner;
    std::atomic<bool> started{false};
    drive::Result result;
    {
        drive::JobRunner jobs(owner.post());
        drive::Job job;
        job.name = "backup";
        job.body = [&](drive::JobContext& c) {
            started.store(true);
            // Read again and again until cancelled: a long job.
            while (!c.cancelled()) result = rig.parameters.readAll(c.control());
            result = rig.parameters.readAll(c.control());
        };
        ASSERT_TRUE(jobs.start(std::move(job)));
        jobs.cancel();
        jobs.wait();
        EXPECT_EQ(result.error, Error::cancelled);

        // A job still running when the runner goes is cancelled and joined.
        drive::Job endless;
        endless.body = [&](drive::JobContext& c) {
            while (!c.cancelled()) rig.parameters.readAll(c.control());
        };
        ASSERT_TRUE(jobs.start(std::move(endless)));
    }
    EXPECT_TRUE(started.load());
}

TEST(DriveJobs, ProgressWaitingForTheOwnerIsMergedIntoTheLatest) {
    PostQueue owner;
    std::vector<std::size_t> shown;
    bool done = false;
    {
        drive::JobRunner jobs(owner.post());
        drive::Job job;
        job.body = [](drive::JobContext& c) {
            for (std::size_t i = 1; i <= 1000; ++i) c.progress(i, 1000);
        };
        job.onProgress = [&](std::size_t d, std::size_t) { shown.push_back(d); };
        job.onDone = [&] { done = true; };
        ASSERT_TRUE(jobs.start(std::move(job)));
        jobs.wait();
    }
    // The owner ran nothing while the job ran: one progress task, then done.
    EXPECT_EQ(owner.drain(), 2);
    EXPECT_EQ(shown, std::vector<std::size_t>{1000});
    EXPECT_TRUE(done);
}

TEST(DriveThreads, ScopeSamplesCrossFromThePollThreadInOrder) {
    Rig rig;
    drive::ScopeAcquisition scope(rig.session, rig.language.scopeQuantities());
    rig.connect();
    scope.setSamplePeriodUs(1000);
    scope.setChannel(0, true, 0);
    scope.setChannel(1, true, 5);
    std::atomic<bool> stop{false};
    std::thread poll([&] {
        while (!stop.load()) scope.acquire();
    });
    std::vector<drive::ScopeSample> samples;
    while (samples.size() < 60) {
        scope.takeSamples([&](const drive::ScopeSample& s) { samples.push_back(s); });
        // The consumer changes the configuration while the producer runs.
        scope.setEnabled(2, samples.size() % 2 == 0);
        std::this_thread::yield();
    }
    stop.store(true);
    poll.join();
    for (std::size_t i = 1; i < samples.size(); ++i)
        EXPECT_GE(samples[i].timeMicros, samples[i - 1].timeMicros);
}

TEST(DriveThreads, DisconnectWaitsForTheRunInProgress) {
    Rig rig({"--eeprom-ms", "400"});
    drive::ParameterService parameters(rig.session, rig.language.parameters());
    rig.connect();
    rig.sim.ok("log on");
    drive::Result stored = drive::Result::failure(Error::busy);
    std::thread job([&] { stored = parameters.storeAll(); });
    // Once the simulator holds the store command, the run is in progress.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (rig.sim.ok("log dump").substr(0, 2) != "1 " &&
           std::chrono::steady_clock::now() < deadline) {
    }
    rig.session.disconnect();
    job.join();
    // The port was closed only after the drive's answer had come.
    EXPECT_TRUE(stored.ok()) << stored.cause();
    std::array<std::uint8_t, 2> value{};
    EXPECT_EQ(rig.session.readRegisters(0, value).error, Error::notConnected);
}

TEST(DriveThreads, ConnectAndDisconnectWhileAnotherThreadPolls) {
    Rig rig;
    drive::StatusService status(rig.session, rig.language.statusItems());
    std::atomic<bool> stop{false};
    std::atomic<int> ok{0};
    std::thread poll([&] {
        while (!stop.load()) {
            const std::uint64_t generation = rig.session.generation();
            const drive::Result r = status.poll();
            rig.session.noteFault(generation, r.accessCode());
            if (r) ok.fetch_add(1);
        }
    });
    for (int i = 0; i < 5; ++i) {
        rig.connect();
        const int before = ok.load();
        while (ok.load() < before + 2) std::this_thread::yield();
        rig.session.disconnect();
        EXPECT_EQ(rig.session.faultCode(), 0);
    }
    stop.store(true);
    poll.join();
}

}  // namespace
