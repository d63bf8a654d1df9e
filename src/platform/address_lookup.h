#pragma once
// Host name lookup bounded in time. getaddrinfo has no time-out of its own: on
// a plant network without a reachable name server it can wait for many
// seconds, which a connect with a time-out must not.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct addrinfo;

namespace platform {

struct AddressListDeleter {
    void operator()(addrinfo* list) const;
};
using AddressList = std::unique_ptr<addrinfo, AddressListDeleter>;

enum class LookupOutcome : std::uint8_t { found, failed, timedOut };

// One lookup of a TCP stream's addresses: getaddrinfo's result code (0 when
// found) and, when found, the list in *list.
using LookupFunction =
    std::function<int(const std::string& host, const std::string& service, addrinfo** list)>;
int systemLookup(const std::string& host, const std::string& service, addrinfo** list);

// The addresses of host:port within timeoutMs. A numeric address is taken at
// once. A name is looked up on a thread of its own; when the time is up the
// caller goes on, and the thread ends by itself, owning everything it uses and
// freeing what it found. code: getaddrinfo's code of a failed lookup, for the
// system's words. lookup: the system's, or a test's.
LookupOutcome lookUpAddress(const std::string& host, std::uint16_t port, std::uint32_t timeoutMs,
                            AddressList& out, int& code,
                            const LookupFunction& lookup = systemLookup);

}  // namespace platform
