#pragma once
// Serves the control language on standard input/output and, optionally, on a
// Unix stream socket (any number of clients, one answer line per command line).
#include <string>

#include "control.h"
#include "stop_signal.h"

namespace sim {

class ControlServer {
  public:
    ControlServer(Controller& controller, const StopSignal& stop, bool useStdin)
        : controller_(controller), stop_(stop), useStdin_(useStdin) {}
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    // Listens on a socket path; a stale socket there is replaced, any other
    // file refused.
    bool listen(const std::string& path, std::string& error);
    // Until a stop is requested or a "quit" command came. The end of standard
    // input only closes that channel.
    void run();

  private:
    Controller& controller_;
    const StopSignal& stop_;
    bool useStdin_;
    int listenFd_ = -1;
    std::string socketPath_;
};

}  // namespace sim
