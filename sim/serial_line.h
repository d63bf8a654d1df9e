#pragma once
// The simulator's end of the serial line: a new pseudo-terminal or an existing
// device, and the loop that delimits requests by line silence and sends
// responses at the pace of the configured line speed.
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "faults.h"
#include "rtu_slave.h"
#include "stop_signal.h"

namespace sim {

class SerialPort {
  public:
    // A new pseudo-terminal in raw mode; the simulator keeps the master side
    // and holds the slave side open, so that masters may open and close it at
    // will. With a link path, a symbolic link to the slave is made there (an
    // existing symbolic link is replaced, any other file refused).
    static std::unique_ptr<SerialPort> openPty(unsigned baud, const std::string& link,
                                               std::string& error);
    // An existing device (or the slave side of another pty) in raw 8N1 mode.
    static std::unique_ptr<SerialPort> openDevice(const std::string& path, unsigned baud,
                                                  std::string& error);
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    int fd() const { return fd_; }
    bool isPty() const { return holdFd_ >= 0; }
    // The path a master opens: the pty slave or the device.
    const std::string& path() const { return path_; }
    const std::string& link() const { return link_; }

  private:
    SerialPort() = default;
    int fd_ = -1;
    int holdFd_ = -1;
    std::string path_;
    std::string link_;
};

// Line timing at 8N1: 10 bits per byte; the end-of-frame silence is 3.5
// characters, fixed at 1750 us above 19200 bit/s.
struct LineTiming {
    explicit LineTiming(unsigned baud);
    std::chrono::nanoseconds byteTime;
    std::chrono::nanoseconds frameSilence;
};

struct LineOptions {
    unsigned baud = 115200;
    bool pace = true;  // false: responses are written in one piece
    // Modbus ASCII: a request runs from ':' to CR LF, whatever the pauses in
    // it; hex pairs and LRC are decoded before the slave sees the frame.
    bool ascii = false;
};

// Serves requests until a stop is requested.
void runLine(SerialPort& port, const LineOptions& options, RtuSlave& slave,
             const FaultSettings& faults, const SlaveSettings& settings, const StopSignal& stop);

// The same loop on any stream (a TCP connection carrying RTU frames); with
// endAtHangup it returns when the peer closes the stream.
void serveStream(int fd, const LineOptions& options, RtuSlave& slave, const FaultSettings& faults,
                 const SlaveSettings& settings, const StopSignal& stop, bool endAtHangup);

// Sends bytes paced at the line speed (each chunk written when its last byte
// would have left a real UART), with the transmission's gap; returns when the
// last byte is on the line. False when stopping. lastWrite (if given) gets the
// time just before the last chunk was written: the receiver cannot have seen
// the last byte earlier, however late this thread runs afterwards.
bool transmit(int fd, const Transmission& t, const LineTiming& timing, bool pace,
              const StopSignal& stop, std::chrono::steady_clock::time_point* lastWrite = nullptr);

}  // namespace sim
