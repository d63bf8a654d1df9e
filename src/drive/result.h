#pragma once
// The typed result of every drive operation: what went wrong, and enough of
// the request to name the cause in a message.
#include <cstdint>
#include <string>

namespace drive {

enum class Error {
    none,
    notConnected,        // no link open, or the link was closed; nothing sent
    noAnswer,            // no answer within the time-out, after every retry
    writeUnconfirmed,    // a write without an answer: the drive may have applied it
    refused,             // exception answer (exceptionCode)
    badChecksum,         // CRC/LRC of the answer wrong, after every retry
    wrongStation,        // answers came from another station
    malformed,           // framing, length or content of the answer wrong
    mismatch,            // the answer does not echo the request
    portFailure,         // the port could not be written or configured
    portUnavailable,     // the port cannot be opened (detail: the OS reason)
    connectionLost,      // the gateway's connection ended (detail: why); the next request connects again
    channelUnavailable,  // bad channel, channel closed under the request, read from station 0
    broadcastSent,       // a write to station 0: sent once, no answer expected
    outOfRange,          // a value outside the parameter's range; nothing sent
    badValue,            // an entered text that is not a number of the type
    incompleteRead,      // no complete read of the parameters to back up
    fileError,           // a file could not be read, written or was refused
    cancelled,           // the user cancelled; what was done is reported
    busy,                // another job runs
};

// The legacy access result codes that the pages store as fault codes and
// show: 0 success, 2 any failure but a time-out, 10 no link, 11 time-out.
inline constexpr std::uint8_t kAccessSuccess = 0;
inline constexpr std::uint8_t kAccessFailed = 2;
inline constexpr std::uint8_t kAccessNoLink = 10;
inline constexpr std::uint8_t kAccessNoResponse = 11;

struct Result {
    Error error = Error::none;
    std::uint8_t exceptionCode = 0;  // Error::refused
    std::int32_t station = 0;
    std::uint8_t attempts = 0;    // requests sent, retries included
    std::uint16_t timeoutMs = 0;  // the time-out of each attempt
    std::uint16_t address = 0;    // register or coil of the failing request
    bool write = false;
    std::string detail;  // the OS reason, the file, or the range, where one applies

    bool ok() const { return error == Error::none || error == Error::broadcastSent; }
    explicit operator bool() const { return ok(); }

    // The cause in words, e.g. "no answer from station 1 after 6 tries (200 ms
    // each)", "the drive refused the value: exception 03, illegal data value",
    // "cannot open /dev/ttyUSB0: Permission denied"; "" for success.
    std::string cause() const;
    // The legacy access code of this result (kAccess*).
    std::uint8_t accessCode() const;

    static Result failure(Error e, std::string detail = {});
};

// "illegal function", "illegal data address", "illegal data value",
// "slave device failure", ... ; "" for a code without a standard name.
const char* exceptionName(std::uint8_t code);
// A short English name of the kind ("no answer", "refused", ...).
const char* errorName(Error e);

}  // namespace drive
