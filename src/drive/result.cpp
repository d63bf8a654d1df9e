#include "drive/result.h"

#include <cstdio>

namespace drive {

const char* exceptionName(std::uint8_t code) {
    switch (code) {
        case 1:
            return "illegal function";
        case 2:
            return "illegal data address";
        case 3:
            return "illegal data value";
        case 4:
            return "slave device failure";
        case 5:
            return "acknowledge";
        case 6:
            return "slave device busy";
        case 8:
            return "memory parity error";
        case 10:
            return "gateway path unavailable";
        case 11:
            return "gateway target device failed to respond";
        default:
            return "";
    }
}

const char* errorName(Error e) {
    switch (e) {
        case Error::none:
            return "ok";
        case Error::notConnected:
            return "not connected";
        case Error::noAnswer:
            return "no answer";
        case Error::writeUnconfirmed:
            return "write unconfirmed";
        case Error::refused:
            return "refused";
        case Error::badChecksum:
            return "bad checksum";
        case Error::wrongStation:
            return "wrong station";
        case Error::malformed:
            return "malformed answer";
        case Error::mismatch:
            return "answer does not match the request";
        case Error::portFailure:
            return "port failure";
        case Error::portUnavailable:
            return "port unavailable";
        case Error::connectionLost:
            return "connection lost";
        case Error::channelUnavailable:
            return "channel unavailable";
        case Error::broadcastSent:
            return "broadcast sent";
        case Error::outOfRange:
            return "out of range";
        case Error::badValue:
            return "not a value";
        case Error::incompleteRead:
            return "no complete read";
        case Error::fileError:
            return "file error";
        case Error::cancelled:
            return "cancelled";
        case Error::busy:
            return "busy";
    }
    return "unknown";
}

Result Result::failure(Error e, std::string detail) {
    Result r;
    r.error = e;
    r.detail = std::move(detail);
    return r;
}

namespace {

std::string withDetail(std::string text, const std::string& detail) {
    if (!detail.empty()) text += ": " + detail;
    return text;
}

}  // namespace

std::string Result::cause() const {
    switch (error) {
        case Error::none:
            return {};
        case Error::notConnected:
            return withDetail("not connected to a drive", detail);
        case Error::noAnswer: {
            const unsigned tries = attempts == 0 ? 1u : attempts;
            return "no answer from station " + std::to_string(station) + " after " +
                   std::to_string(tries) + (tries == 1 ? " try" : " tries") + " (" +
                   std::to_string(timeoutMs) + " ms each)";
        }
        case Error::writeUnconfirmed:
            return "time-out: the drive may have applied the write; read it back";
        case Error::refused: {
            char code[8];
            std::snprintf(code, sizeof code, "%02u", static_cast<unsigned>(exceptionCode));
            std::string text = std::string(write ? "the drive refused the value"
                                                 : "the drive refused the request") +
                               ": exception " + code;
            if (const char* name = exceptionName(exceptionCode); *name != '\0')
                text += std::string(", ") + name;
            return text;
        }
        case Error::badChecksum:
            return "bad checksum";
        case Error::wrongStation:
            return "the answer came from another station than " + std::to_string(station);
        case Error::malformed:
            return withDetail("malformed answer", detail);
        case Error::mismatch:
            return "the answer does not match the request";
        case Error::portFailure:
            return withDetail("the serial port failed", detail);
        case Error::portUnavailable:
            return detail.empty() ? "cannot open the serial port" : detail;
        case Error::connectionLost:
            return detail.empty() ? "the connection to the gateway was lost" : detail;
        case Error::channelUnavailable:
            return detail.empty() ? "the link is closed" : detail;
        case Error::broadcastSent:
            return "sent to all stations; no answer expected";
        case Error::outOfRange:
            return withDetail("value out of range", detail);
        case Error::badValue:
            return withDetail("not a number", detail);
        case Error::incompleteRead:
            return withDetail("no complete read of the drive's parameters", detail);
        case Error::fileError:
            return withDetail("file error", detail);
        case Error::cancelled:
            return "cancelled";
        case Error::busy:
            return withDetail("another operation is running", detail);
    }
    return errorName(error);
}

std::uint8_t Result::accessCode() const {
    switch (error) {
        case Error::none:
        case Error::broadcastSent:
            return kAccessSuccess;
        case Error::notConnected:
            return kAccessNoLink;
        case Error::noAnswer:
        case Error::writeUnconfirmed:
            return kAccessNoResponse;
        default:
            return kAccessFailed;
    }
}

}  // namespace drive
