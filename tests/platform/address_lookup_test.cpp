#include "platform/address_lookup.h"

#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/socket.h>

#include <future>

namespace {

using platform::AddressList;
using platform::LookupOutcome;

// A name server that has not answered when the caller's time is up: the
// caller goes on, and the lookup ends later by itself and frees its list
// (LeakSanitizer would see it otherwise).
TEST(AddressLookup, ANameThatIsNotResolvedInTimeTimesOutWithoutWaiting) {
    std::promise<void> answer;
    std::shared_future<void> released = answer.get_future().share();
    std::promise<void> ended;
    auto lookupEnded = ended.get_future();
    const platform::LookupFunction slow =
        [released, &ended](const std::string&, const std::string& service, addrinfo** list) {
            released.wait();
            const int code = platform::systemLookup("127.0.0.1", service, list);
            ended.set_value();
            return code;
        };
    AddressList out;
    int code = -1;
    EXPECT_EQ(platform::lookUpAddress("gateway.plant", 502, 20, out, code, slow),
              LookupOutcome::timedOut);
    EXPECT_EQ(out, nullptr);
    answer.set_value();
    lookupEnded.wait();
}

TEST(AddressLookup, NamesFoundOrNotAndNumbersWithoutALookup) {
    AddressList out;
    int code = -1;
    const platform::LookupFunction local = [](const std::string& host, const std::string& service,
                                              addrinfo** list) {
        if (host != "gateway.plant") return EAI_NONAME;
        return platform::systemLookup("127.0.0.1", service, list);
    };
    ASSERT_EQ(platform::lookUpAddress("gateway.plant", 502, 1000, out, code, local),
              LookupOutcome::found);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->ai_family, AF_INET);
    EXPECT_EQ(out->ai_socktype, SOCK_STREAM);

    EXPECT_EQ(platform::lookUpAddress("nowhere.plant", 502, 1000, out, code, local),
              LookupOutcome::failed);
    EXPECT_EQ(code, EAI_NONAME);
    EXPECT_EQ(out, nullptr);

    const platform::LookupFunction none = [](const std::string& host, const std::string&,
                                             addrinfo**) {
        ADD_FAILURE() << "a numeric address was looked up: " << host;
        return EAI_FAIL;
    };
    EXPECT_EQ(platform::lookUpAddress("127.0.0.1", 502, 0, out, code, none), LookupOutcome::found);
    EXPECT_EQ(platform::lookUpAddress("::1", 502, 0, out, code, none), LookupOutcome::found);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->ai_family, AF_INET6);
}

}  // namespace
