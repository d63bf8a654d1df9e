#pragma once
// The simulator as a gateway on 127.0.0.1: Modbus TCP (MBAP header, unit id
// = station), or RTU frames over a TCP stream. One client is served at a
// time; the next waits in the listen queue until the current one closes.
#include <cstdint>
#include <memory>
#include <string>

#include "faults.h"
#include "rtu_slave.h"
#include "serial_line.h"
#include "stop_signal.h"

namespace sim {

class TcpListener {
  public:
    // Listens on 127.0.0.1:port; port 0 takes a free one (see port()).
    static std::unique_ptr<TcpListener> open(std::uint16_t port, std::string& error);
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    std::uint16_t port() const { return port_; }
    // The next client's connection, non-blocking; -1 when stopping.
    int accept(const StopSignal& stop);

  private:
    TcpListener() = default;
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// Serves Modbus TCP clients until a stop. The request goes to the slave as the
// RTU frame it stands for; the answer keeps the request's transaction id. The
// frame faults of the serial line (bad CRC, truncation, gaps) do not apply;
// no-answer, delay, exceptions and rejected writes do.
void serveModbusTcp(TcpListener& listener, RtuSlave& slave, const FaultSettings& faults,
                    const SlaveSettings& settings, const StopSignal& stop);

// Serves RTU-over-TCP clients until a stop, each with the serial line's loop.
void serveRtuTcp(TcpListener& listener, const LineOptions& options, RtuSlave& slave,
                 const FaultSettings& faults, const SlaveSettings& settings,
                 const StopSignal& stop);

}  // namespace sim
