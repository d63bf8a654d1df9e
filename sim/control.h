#pragma once
// The control language: one command per line, one answer line per command,
// "OK ..." or "ERR ...". See sim/README.md for the commands.
#include <string>
#include <string_view>

#include "drive_image.h"
#include "faults.h"
#include "request_log.h"

namespace sim {

class Controller {
  public:
    Controller(DriveImage& image, SlaveSettings& settings, FaultSettings& faults, SlaveStats& stats,
               RequestLog& log)
        : image_(image), settings_(settings), faults_(faults), stats_(stats), log_(log) {}

    // The answer to one command line (without line end).
    std::string execute(std::string_view line);
    // Set once a "quit" command was executed.
    bool quitRequested() const { return quit_; }

  private:
    DriveImage& image_;
    SlaveSettings& settings_;
    FaultSettings& faults_;
    SlaveStats& stats_;
    RequestLog& log_;
    bool quit_ = false;
};

}  // namespace sim
