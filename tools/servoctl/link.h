#pragma once
// servoctl's raw register commands over a serial link, through the project's
// own Modbus master.
#include <cstdint>
#include <string>
#include <vector>

namespace servoctl {

struct LinkOptions {
    std::string port;  // "COMn" (mapped like the program maps it), a device path or a gateway
    std::uint32_t baud = 115200;
    int station = 1;
    std::uint8_t parity = 0;  // Win32 DCB code: 0 none, 1 odd, 2 even
    bool ascii = false;
    unsigned timeoutMs = 200;
    unsigned retries = 5;
    bool json = false;
};

enum class LinkCommand { Probe, ReadRegs, WriteRegs, ReadCoils, WriteCoils, ReadInputs };

// Exit statuses of a failed exchange, beyond the common 0/1/2.
inline constexpr int kExitTimeout = 3;
inline constexpr int kExitChecksum = 4;
inline constexpr int kExitException = 5;
inline constexpr int kExitFraming = 6;  // wrong station or malformed response
inline constexpr int kExitPort = 7;     // the port cannot be opened

// "COM3" (any case) -> 3; anything else (a device path) -> 0.
unsigned comNumber(const std::string& port);
// The problem with the station, time-out or retries; "" when they are usable.
std::string linkOptionProblem(const LinkOptions& options);

// `values` are the command's trailing numbers (ADDR COUNT, or ADDR VALUE...).
int runLinkCommand(const LinkOptions& options, LinkCommand command,
                   const std::vector<long long>& values);

}  // namespace servoctl
