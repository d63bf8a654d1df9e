#pragma once
// Starts servo-sim as a child process for integration tests: waits for its
// readiness line, gives the pseudo-terminal path, talks its control language
// over the child's standard input and output, and kills and reaps it on
// destruction. Failures throw std::runtime_error with the simulator's error
// output, so that a test fails loudly rather than being skipped.
//
// The child is killed when the thread that created the fixture ends (so that
// no simulator outlives a crashed test): create it on the test's own thread.
//
//   testsupport::SimProcess sim({"--station", "3"});
//   sim.exportAsCom(1);                  // SERVO_COM1=<pty path>
//   sim.ok("noanswer on");               // throws unless the answer is "OK ..."
#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

class SimProcess {
  public:
    // Starts servo-sim with these extra arguments and waits for "READY".
    explicit SimProcess(std::vector<std::string> args = {},
                        std::chrono::milliseconds readyTimeout = std::chrono::seconds(30));
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // The path a master opens: the new pty (or the --device path), or with
    // --tcp / --rtu-tcp the port "tcp://127.0.0.1:N" / "rtu+tcp://127.0.0.1:N".
    const std::string& ptyPath() const { return portPath_; }
    const std::string& readyLine() const { return readyLine_; }
    pid_t pid() const { return pid_; }

    // Sends one control command and returns its answer line ("OK ..." or
    // "ERR ..."). Throws when no answer comes in time.
    std::string command(std::string_view line,
                        std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // command() that must answer "OK"; returns the text after "OK " ("" when
    // none). Throws with the answer otherwise.
    std::string ok(std::string_view line);

    // Sets the environment variable SERVO_COM<n> to the pty path.
    void exportAsCom(int n = 1) const;

    // Ends the simulator (SIGTERM, SIGKILL after a grace time) and returns its
    // exit status as from waitpid. Idempotent: later calls give the same status.
    int stop();
    // True while the child has not exited.
    bool running();
    // Everything the simulator wrote to its standard error so far.
    std::string errorOutput() const;

    // The servo-sim executable this fixture starts.
    static std::string executable();

    // Runs servo-sim to its end (for start-up failures): exit code (or 128 +
    // signal) and its standard error. Throws if it runs past the time-out.
    struct Exit {
        int code = 0;
        std::string errorOutput;
        std::string output;
    };
    static Exit runToExit(std::vector<std::string> args,
                          std::chrono::milliseconds timeout = std::chrono::seconds(30));

  private:
    std::string readLine(std::chrono::milliseconds timeout);

    pid_t pid_ = -1;
    int exitStatus_ = -1;
    int control_ = -1;  // our end of the child's stdin/stdout socket
    std::string errorFile_;
    std::string pending_;
    std::string readyLine_;
    std::string portPath_;
};

}  // namespace testsupport
