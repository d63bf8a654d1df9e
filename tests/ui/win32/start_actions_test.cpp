#include "main/start_actions.h"

#include <gtest/gtest.h>

namespace {

using servo_main::parseConnectChoice;

TEST(ConnectChoice, PortRateAndStationAsTheStatusPageOffersThem) {
    std::string error;
    auto choice = parseConnectChoice("COM1", error);
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->port, 1);
    EXPECT_EQ(choice->baud, 115200u);
    EXPECT_EQ(choice->station, 1);
    choice = parseConnectChoice("com6:4800:64", error);
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->port, 6);
    EXPECT_EQ(choice->baud, 4800u);
    EXPECT_EQ(choice->station, 64);
}

TEST(ConnectChoice, RefusalsNameTheirCause) {
    const struct {
        const char* text;
        const char* cause;
    } cases[] = {
        {"COM7", "port 'COM7'"},
        {"COM0", "port 'COM0'"},
        {"/dev/ttyS0", "port"},
        {"COM", "port 'COM'"},
        {"COM1:1200", "baud rate '1200'"},
        {"COM1:", "baud rate ''"},
        {"COM1:9600x", "'9600x'"},
        {"COM1:9600:0", "station '0'"},
        {"COM1:9600:65", "station '65'"},
        {"COM1:9600:1:2", "station '1:2'"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(parseConnectChoice(c.text, error)) << c.text;
        EXPECT_NE(error.find(c.cause), std::string::npos) << c.text << ": " << error;
    }
}

}  // namespace
