#pragma once
#include <memory>

#include "app/app_context.h"
#include "drive/jobs.h"

namespace app {

// A page's side of the program's job runner: starts the page's jobs, hands
// their progress and their end to the page on the user interface thread, and
// says whether one of them runs. Once the object is gone (with its page), the
// progress and end of its job are dropped; the job itself runs to its end.
//
// Threads: user interface thread only.
class PageJobs {
  public:
    explicit PageJobs(AppContext& context);
    // Waits for this page's job to end: it uses the page's service.
    ~PageJobs();
    PageJobs(const PageJobs&) = delete;
    PageJobs& operator=(const PageJobs&) = delete;

    // Starts the job. Its onProgress and onDone run on this thread; onDone
    // runs after busy() has turned false, and AppContext::jobEnded after it.
    // While another job runs nothing starts: a message names that job and
    // false is returned.
    bool start(drive::Job job);
    // True from start until the job's onDone.
    bool busy() const { return busy_; }
    // Blocks until this page's job has ended (for a page that goes).
    void waitForEnd();

  private:
    AppContext& context_;
    std::shared_ptr<PageJobs*> self_;
    bool busy_ = false;
};

}  // namespace app
