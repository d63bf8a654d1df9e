#pragma once
// The program-wide objects that the start sequence makes and hands to the
// shell and the pages (master, access layer, drive session, job runner,
// tables, context), for their tests on the headless backend; and waiting for
// work handed to the user interface thread. Construct it after the
// HeadlessBackend: the job runner posts to it.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "app/app_context.h"
#include "data/language.h"
#include "data/model_sets.h"
#include "drive/jobs.h"
#include "drive/session.h"
#include "modbus/drive_access.h"
#include "modbus/master.h"
#include "ui/headless.h"

namespace testsupport {

struct ProgramRig {
    modbus::ModbusMaster master;
    modbus::DriveAccess access{master};
    drive::DriveSession session{access};
    data::LanguageData language;
    data::ModelValueSets models;
    std::uint32_t settingsWord = 1;
    // After everything its jobs use, so that it is joined first.
    drive::JobRunner jobs{[](std::function<void()> task) { ui::post(std::move(task)); }};
    app::AppContext context{session, jobs, language, models, 0, settingsWord};

    explicit ProgramRig(std::u16string_view languageText = {}) {
        access.initModbus();
        if (!languageText.empty()) language = data::parseLanguageText(languageText);
    }
    ~ProgramRig() {
        jobs.wait();
        session.disconnect();
        if (idleLine_ >= 0) ::close(idleLine_);
    }

    // What the connection page does on connect to COM<channel + 1>, station
    // 1, 115200 bit/s; then, unless it is kFaultProbe, the fault code as the
    // poll loop's probe would leave it (0: the probe succeeded).
    drive::Result connect(std::uint8_t faultCode = 0,
                          drive::RequestTiming timing = drive::kLinkTiming,
                          std::uint8_t channel = 0) {
        drive::LinkSettings settings;
        settings.channel = channel;
        settings.timing = timing;
        drive::Result r = session.connect(settings);
        if (r && faultCode != drive::kFaultProbe)
            session.noteFault(session.generation(), faultCode);
        return r;
    }

    // Connects to a line where nothing answers (a pseudo-terminal whose other
    // end the rig holds), healthy until something is sent: for the checks
    // that come before any request.
    drive::Result connectIdleLine(drive::RequestTiming timing = {20, 0}) {
        if (idleLine_ < 0) {
            idleLine_ = ::posix_openpt(O_RDWR | O_NOCTTY);
            if (idleLine_ < 0 || ::grantpt(idleLine_) != 0 || ::unlockpt(idleLine_) != 0)
                throw std::runtime_error("no pseudo-terminal");
        }
        drive::LinkSettings settings;
        settings.device = ::ptsname(idleLine_);
        settings.timing = timing;
        drive::Result r = session.connect(settings);
        if (r) session.noteFault(session.generation(), 0);
        return r;
    }

  private:
    int idleLine_ = -1;
};

// Runs the posted tasks until the condition holds or the time-out passes.
inline bool pumpUntil(ui::HeadlessBackend& backend, const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        backend.pumpPosted();
        if (condition()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace testsupport
