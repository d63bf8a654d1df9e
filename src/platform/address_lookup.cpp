#include "platform/address_lookup.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#endif

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

namespace platform {

namespace {

addrinfo streamHints(int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = flags;
    return hints;
}

// What a lookup thread and its caller share; the last of the two frees it.
struct PendingLookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int code = 0;
    addrinfo* list = nullptr;  // owned until the caller takes it

    ~PendingLookup() {
        if (list != nullptr) freeaddrinfo(list);
    }
};

}  // namespace

void AddressListDeleter::operator()(addrinfo* list) const {
    if (list != nullptr) freeaddrinfo(list);
}

int systemLookup(const std::string& host, const std::string& service, addrinfo** list) {
    const addrinfo hints = streamHints(0);
    return getaddrinfo(host.c_str(), service.c_str(), &hints, list);
}

LookupOutcome lookUpAddress(const std::string& host, std::uint16_t port, std::uint32_t timeoutMs,
                            AddressList& out, int& code, const LookupFunction& lookup) {
    out.reset();
    code = 0;
    const std::string service = std::to_string(port);
    // A numeric address asks no name server: no thread, no wait.
    const addrinfo numeric = streamHints(AI_NUMERICHOST | AI_NUMERICSERV);
    addrinfo* list = nullptr;
    if (getaddrinfo(host.c_str(), service.c_str(), &numeric, &list) == 0) {
        out.reset(list);
        return LookupOutcome::found;
    }
    auto pending = std::make_shared<PendingLookup>();
    // Detached on purpose: a lookup cannot be called off, and the caller must
    // not wait for it beyond its time. The thread holds the shared state and
    // its own copies of the host, service and function.
    std::thread([pending, lookup, host, service] {
        addrinfo* found = nullptr;
        const int result = lookup(host, service, &found);
        std::lock_guard lock(pending->mutex);
        pending->code = result;
        pending->list = result == 0 ? found : nullptr;
        pending->finished = true;
        pending->done.notify_all();
    }).detach();
    std::unique_lock lock(pending->mutex);
    if (!pending->done.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [&] { return pending->finished; }))
        return LookupOutcome::timedOut;
    code = pending->code;
    if (code != 0 || pending->list == nullptr) return LookupOutcome::failed;
    out.reset(std::exchange(pending->list, nullptr));
    return LookupOutcome::found;
}

}  // namespace platform
