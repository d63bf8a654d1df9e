#pragma once
#include <filesystem>
#include <string>

namespace servo_main {

// The simulated drive of --demo: servo-sim as a child process on a new
// pseudo-terminal, with COM1 mapped to it (SERVO_COM1) for this process.
// Ended and reaped when the object goes. POSIX only.
class DemoDrive {
  public:
    DemoDrive() = default;
    ~DemoDrive();
    DemoDrive(const DemoDrive&) = delete;
    DemoDrive& operator=(const DemoDrive&) = delete;

    // Starts the simulator and waits for it to answer; false with the reason
    // in `error` when it does not come up.
    bool start(const std::filesystem::path& simulator, std::string& error);
    // Ends the simulator (SIGTERM, then SIGKILL after a grace time) and reaps it.
    void stop();

    const std::string& portPath() const { return portPath_; }

  private:
    long pid_ = -1;
    int output_ = -1;  // the simulator's standard output, kept open while it runs
    std::string portPath_;
};

}  // namespace servo_main
