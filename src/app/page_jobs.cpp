#include "app/page_jobs.h"

#include <utility>

#include "platform/text.h"
#include "ui/backend.h"

namespace app {

PageJobs::PageJobs(AppContext& context)
    : context_(context), self_(std::make_shared<PageJobs*>(this)) {}

PageJobs::~PageJobs() {
    waitForEnd();
    // Its end will not be shown: the page has gone.
    if (busy_) --context_.jobsInFlight;
}

bool PageJobs::start(drive::Job job) {
    const auto refuse = [this] {
        ui::messageBox(u"\"" + platform::fromUtf8(context_.jobs.current()) +
                           u"\" is still running. Try again when it has finished.",
                       context_.uiText(67, u"Error"), ui::MessageIcon::Exclamation);
        return false;
    };
    if (context_.jobs.busy()) return refuse();
    const std::weak_ptr<PageJobs*> weak = self_;
    AppContext* const context = &context_;
    job.onProgress = [weak, progress = std::move(job.onProgress)](std::size_t done,
                                                                  std::size_t total) {
        if (weak.lock() && progress) progress(done, total);
    };
    job.onDone = [weak, context, done = std::move(job.onDone)] {
        const std::shared_ptr<PageJobs*> self = weak.lock();
        if (!self) return;
        (*self)->busy_ = false;
        --context->jobsInFlight;
        if (done) done();
        if (context->jobEnded) context->jobEnded();
    };
    if (!context_.jobs.start(std::move(job))) return refuse();
    busy_ = true;
    ++context_.jobsInFlight;
    return true;
}

void PageJobs::waitForEnd() {
    if (busy_) context_.jobs.wait();
}

}  // namespace app
