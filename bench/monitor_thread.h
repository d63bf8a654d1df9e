#pragma once
// A bus monitor reading the transaction log on a thread of its own while a
// benchmark drives the link: what the open monitor window does, at a shorter
// period than its timer's, so that any cost to the link would show.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

#include "data/language.h"
#include "drive/bus_monitor.h"
#include "modbus/transaction_log.h"
#include "platform/clock.h"

namespace benchsupport {

class MonitorThread {
  public:
    static constexpr std::chrono::milliseconds kPeriod{50};

    MonitorThread(const modbus::TransactionLog& log, const data::LanguageData& language)
        : thread_([this, &log, &language] {
              drive::BusMonitor monitor(log, language, true, platform::monotonicMicros());
              std::unique_lock lock(mutex_);
              while (!stopSignal_.wait_for(lock, kPeriod, [this] { return stop_; })) {
                  lock.unlock();
                  rows_ += monitor.update();
                  lock.lock();
              }
              rows_ += monitor.update();  // what came after the last period
          }) {}
    ~MonitorThread() { stop(); }
    MonitorThread(const MonitorThread&) = delete;
    MonitorThread& operator=(const MonitorThread&) = delete;

    // Joins the thread; returns the rows it decoded.
    std::size_t stop() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        stopSignal_.notify_all();
        if (thread_.joinable()) thread_.join();
        return rows_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable stopSignal_;
    bool stop_ = false;
    std::size_t rows_ = 0;  // the thread's own until it is joined
    std::thread thread_;
};

}  // namespace benchsupport
