// The project's master against a Modbus RTU slave that nobody here wrote:
// libmodbus, on its own pseudo-terminal, joined to ours by a byte relay.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <modbus/modbus.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <thread>

#include "modbus/drive_access.h"
#include "modbus/master.h"
#include "modbus/request.h"
#include "modbus/result.h"

namespace {

struct Pty {
    int fd = -1;
    std::string path;
    Pty() {
        fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0 && ::grantpt(fd) == 0 && ::unlockpt(fd) == 0) path = ::ptsname(fd);
    }
    ~Pty() {
        if (fd >= 0) ::close(fd);
    }
};

// Copies bytes both ways between the master sides of two ptys: a null-modem
// cable between the two programs' serial ports.
class Relay {
  public:
    Relay(int a, int b) : thread_([this, a, b] { run(a, b); }) {}
    ~Relay() {
        stop_ = true;
        thread_.join();
    }

  private:
    void run(int a, int b) {
        std::uint8_t buf[512];
        while (!stop_) {
            pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
            if (::poll(fds, 2, 20) <= 0) continue;
            for (int i = 0; i < 2; ++i) {
                if (!(fds[i].revents & POLLIN)) continue;
                const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
                if (n > 0) {
                    ssize_t done = 0;
                    while (done < n) {
                        const ssize_t w =
                            ::write(fds[1 - i].fd, buf + done, static_cast<size_t>(n - done));
                        if (w > 0)
                            done += w;
                        else
                            ::usleep(100);
                    }
                }
            }
        }
    }
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class LibmodbusSlave {
  public:
    explicit LibmodbusSlave(const std::string& device) {
        ctx_ = modbus_new_rtu(device.c_str(), 115200, 'N', 8, 1);
        map_ = modbus_mapping_new(64, 16, 300, 16);
        if (!ctx_ || !map_ || modbus_set_slave(ctx_, 7) != 0 || modbus_connect(ctx_) != 0) return;
        modbus_set_indication_timeout(ctx_, 0, 50000);
        for (int i = 0; i < 300; ++i) map_->tab_registers[i] = static_cast<std::uint16_t>(1000 + i);
        for (int i = 0; i < 16; ++i)
            map_->tab_input_registers[i] = static_cast<std::uint16_t>(0xA000 + i);
        for (int i = 0; i < 16; ++i)
            map_->tab_input_bits[i] = static_cast<std::uint8_t>(i % 3 == 0);
        ready_ = true;
        thread_ = std::thread([this] {
            std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
            while (!stop_) {
                const int rc = modbus_receive(ctx_, query);
                if (rc > 0) {
                    received_.fetch_add(1, std::memory_order_relaxed);
                    modbus_reply(ctx_, query, rc, map_);
                } else if (errno != ETIMEDOUT) {
                    // A request that was cut or merged with another.
                    rejected_.fetch_add(1, std::memory_order_relaxed);
                }
            }
        });
    }
    ~LibmodbusSlave() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (ctx_) {
            modbus_close(ctx_);
            modbus_free(ctx_);
        }
        if (map_) modbus_mapping_free(map_);
    }
    bool ready() const { return ready_; }
    // Requests taken whole, and receives that failed other than by silence;
    // read after the master's requests have been answered.
    int received() const { return received_.load(std::memory_order_relaxed); }
    int rejected() const { return rejected_.load(std::memory_order_relaxed); }
    modbus_mapping_t* map() { return map_; }

  private:
    modbus_t* ctx_ = nullptr;
    modbus_mapping_t* map_ = nullptr;
    bool ready_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<int> received_{0};
    std::atomic<int> rejected_{0};
    std::thread thread_;
};

class AgainstLibmodbus : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(slavePty.path.empty());
        ASSERT_FALSE(masterPty.path.empty());
        ASSERT_TRUE(slave.ready()) << "libmodbus slave could not open " << slavePty.path;
        master.resetMaster();
        ASSERT_EQ(master.openSerialChannelAt(0, masterPty.path, 115200, 8, 0, 0), modbus::kSuccess);
        master.setChannelTiming(0, 300, 2);
        access.selectDrive(0, 7, modbus::kFrameRtu, true);
    }
    Pty slavePty;
    Pty masterPty;
    Relay relay{slavePty.fd, masterPty.fd};
    LibmodbusSlave slave{slavePty.path};
    modbus::ModbusMaster master;
    modbus::DriveAccess access{master};
};

TEST_F(AgainstLibmodbus, ReadsAndWritesEveryKindOfData) {
    // Holding registers, split into 120 + 120 + 1 requests.
    std::vector<std::uint8_t> regs(482);
    ASSERT_EQ(access.readRegisters(0, regs.data(), 482), 0);
    for (int i = 0; i < 241; ++i) ASSERT_EQ(regs[2 * i] | (regs[2 * i + 1] << 8), 1000 + i) << i;

    // Input registers (function 4).
    std::uint8_t in[8];
    ASSERT_EQ(master.readItems(0, 7, 2, in, 8,
                               modbus::makeSelector(modbus::kKindRegisters, modbus::kTableInput,
                                                    modbus::kFrameRtu)),
              modbus::kSuccess);
    EXPECT_EQ(in[0] | (in[1] << 8), 0xA002);
    EXPECT_EQ(in[6] | (in[7] << 8), 0xA005);

    // Single and multiple register writes.
    const std::uint8_t one[2] = {0xCD, 0xAB};
    ASSERT_EQ(access.writeRegisters(10, one, 2), 0);
    EXPECT_EQ(slave.map()->tab_registers[10], 0xABCD);
    std::vector<std::uint8_t> many(242);
    for (int i = 0; i < 121; ++i) many[2 * i] = static_cast<std::uint8_t>(i);
    ASSERT_EQ(access.writeRegisters(100, many.data(), 242), 0);
    EXPECT_EQ(slave.map()->tab_registers[100], 0);
    EXPECT_EQ(slave.map()->tab_registers[220], 120);

    // Coils and discrete inputs.
    const std::uint8_t on = 1;
    ASSERT_EQ(access.writeCoils(5, &on, 1), 0);
    EXPECT_EQ(slave.map()->tab_bits[5], 1);
    std::uint8_t pattern[10] = {1, 1, 0, 0, 1, 0, 1, 0, 1, 1};
    ASSERT_EQ(access.writeCoils(20, pattern, 10), 0);
    std::uint8_t coils[10] = {};
    ASSERT_EQ(access.readCoils(20, coils, 10), 0);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(coils[i], pattern[i]) << i;
    std::uint8_t inputs[10] = {};
    ASSERT_EQ(access.readInputs(0, inputs, 10), 0);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(inputs[i], i % 3 == 0 ? 1 : 0) << i;
}

TEST_F(AgainstLibmodbus, ExceptionAndOtherStationAreFailures) {
    std::uint8_t buf[2];
    // Beyond the mapping: libmodbus answers exception 02.
    EXPECT_EQ(access.readRegisters(400, buf, 2), modbus::kAccessFailed);
    // Another station: libmodbus stays silent.
    master.setChannelTiming(0, 60, 0);
    access.selectDrive(0, 8, modbus::kFrameRtu, true);
    EXPECT_EQ(access.readRegisters(0, buf, 2), modbus::kAccessNoResponse);
}

// Answers end at their length: back-to-back reads of every size arrive at
// the slave one whole request each, and every answer is taken whole.
TEST_F(AgainstLibmodbus, BackToBackReadsAreNeitherSplitNorMerged) {
    const int before = slave.received();
    std::vector<std::uint8_t> buf(250);
    int wrong = 0;
    constexpr int kReads = 120;
    for (int i = 0; i < kReads; ++i) {
        const auto registers = static_cast<std::uint16_t>(1 + i % modbus::kMaxRegistersPerRequest);
        ASSERT_EQ(access.readRegisters(static_cast<std::uint16_t>(i), buf.data(), 2u * registers),
                  modbus::kAccessSuccess)
            << "read " << i;
        for (int r = 0; r < registers; ++r)
            wrong += (buf[2 * r] | (buf[2 * r + 1] << 8)) != 1000 + i + r;
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(slave.received() - before, kReads);
    EXPECT_EQ(slave.rejected(), 0);
}

}  // namespace
