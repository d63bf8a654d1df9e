#pragma once
// The Modbus RTU slave: takes one frame as delimited by line silence and
// builds the response frame. Function codes 1, 2, 3, 5, 6, 15 and 16; every
// other code gets exception 01.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <span>
#include <vector>

#include "drive_image.h"
#include "faults.h"
#include "request_log.h"

namespace sim {

class RtuSlave {
  public:
    // Waits the given time; false when the simulator is stopping meanwhile.
    using Waiter = std::function<bool(std::chrono::milliseconds)>;

    RtuSlave(DriveImage& image, SlaveSettings& settings, FaultSettings& faults, SlaveStats& stats,
             RequestLog& log, Waiter waiter, std::uint32_t seed = 1);

    // The response frame with its CRC, or nothing: a frame that is too short,
    // has a bad CRC, is for another station or is a broadcast (station 0,
    // executed when it is a write) gets no answer, nor does a request dropped
    // by the no-answer fault (not executed either).
    // arrival goes to the request log with the frame.
    std::optional<std::vector<std::uint8_t>> handle(std::span<const std::uint8_t> frame,
                                                    FrameArrival arrival = {});

    std::mt19937& random() { return random_; }

  private:
    // Function code and data in, function code and data out.
    // True when this write is to be refused by the reject fault.
    bool rejectsWrite(std::span<const std::uint8_t> frame);
    std::vector<std::uint8_t> execute(std::span<const std::uint8_t> pdu);
    std::vector<std::uint8_t> eepromCommand(std::uint16_t value, std::vector<std::uint8_t> echo);

    DriveImage& image_;
    SlaveSettings& settings_;
    FaultSettings& faults_;
    SlaveStats& stats_;
    RequestLog& log_;
    Waiter waiter_;
    std::mt19937 random_;
    // The write last rejected by the reject fault, and the fault setting it
    // belongs to: its repeats (a master's retries) are rejected as well.
    std::vector<std::uint8_t> rejectedFrame_;
    unsigned rejectedEpoch_ = 0;
};

// Appends the CRC (low byte first).
void appendCrc(std::vector<std::uint8_t>& frame);
bool crcValid(std::span<const std::uint8_t> frame);

}  // namespace sim
