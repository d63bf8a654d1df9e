// The simulator's parts without a line: register image, EEPROM file, request
// handling, response faults, the servo model and its quantity rule.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "drive_image.h"
#include "eeprom_file.h"
#include "faults.h"
#include "request_log.h"
#include "rtu_slave.h"
#include "servo_model.h"
#include "sim/rtu_client.h"
#include "sim/test_defs.h"

namespace {

using sim::ModbusError;

sim::DriveLayout smallLayout() {
    sim::DriveLayout l;
    l.parameters = {
        {"P0", 0, sim::ValueType::Int16U, true, 0, 100, 10},
        {"P1", 1, sim::ValueType::Int16U, false, 0, 65535, 1207},
        {"P2", 2, sim::ValueType::Int32S, true, static_cast<std::uint32_t>(-100000), 100000,
         static_cast<std::uint32_t>(-5)},
        {"P3", 4, sim::ValueType::Int16S, true, 0xFF9C, 100, 0xFFFF},
    };
    for (int i = 0; i < 9; ++i)
        l.status.push_back({i == 0 ? "Motor speed" : "Item", static_cast<std::uint16_t>(100 + i),
                            sim::ValueType::Int16S, 1.0});
    l.status.push_back({"Position feedback", 109, sim::ValueType::Int32S, 1.0});
    l.scope.push_back({"DC bus voltage (0.1 V)", 200, sim::ValueType::Int16S, 10.0});
    return l;
}

std::vector<std::uint16_t> read(sim::DriveImage& image, std::uint16_t start, std::uint16_t count,
                                bool strict = false) {
    std::vector<std::uint16_t> out;
    EXPECT_EQ(image.readRegisters(start, count, strict, out), ModbusError::None);
    return out;
}

TEST(DriveImage, FactoryValuesAndWidths) {
    sim::DriveImage image(smallLayout());
    // 32-bit values low register first; unmapped registers after the table read 0.
    EXPECT_EQ(read(image, 0, 8),
              (std::vector<std::uint16_t>{10, 1207, 0xFFFB, 0xFFFF, 0xFFFF, 0, 0, 0}));
}

TEST(DriveImage, WritesAreCheckedForAccessAndRange) {
    sim::DriveImage image(smallLayout());
    const std::uint16_t v1[] = {100};
    EXPECT_EQ(image.writeRegisters(0, v1), ModbusError::None);
    const std::uint16_t v2[] = {101};
    EXPECT_EQ(image.writeRegisters(0, v2), ModbusError::IllegalValue);
    EXPECT_EQ(image.writeRegisters(1, v1), ModbusError::IllegalAddress);    // read-only
    EXPECT_EQ(image.writeRegisters(5, v1), ModbusError::IllegalAddress);    // unmapped
    EXPECT_EQ(image.writeRegisters(100, v1), ModbusError::IllegalAddress);  // status item
    // Signed 16-bit: -100 is the minimum, -101 below it.
    const std::uint16_t m100[] = {0xFF9C}, m101[] = {0xFF9B};
    EXPECT_EQ(image.writeRegisters(4, m100), ModbusError::None);
    EXPECT_EQ(image.writeRegisters(4, m101), ModbusError::IllegalValue);
    EXPECT_EQ(read(image, 0, 5), (std::vector<std::uint16_t>{100, 1207, 0xFFFB, 0xFFFF, 0xFF9C}));
}

TEST(DriveImage, ThirtyTwoBitHalvesAreCheckedCombined) {
    sim::DriveImage image(smallLayout());
    // Both halves at once: 100000 = 0x000186A0 in range, 100001 not.
    const std::uint16_t ok[] = {0x86A0, 0x0001}, high[] = {0x86A1, 0x0001};
    EXPECT_EQ(image.writeRegisters(2, ok), ModbusError::None);
    EXPECT_EQ(image.writeRegisters(2, high), ModbusError::IllegalValue);
    EXPECT_EQ(*image.parameter(2), 100000u);
    // Low half alone: combined with the high half 0x0001 -> 0x00010000 = 65536.
    const std::uint16_t low0[] = {0x0000};
    EXPECT_EQ(image.writeRegisters(2, low0), ModbusError::None);
    EXPECT_EQ(*image.parameter(2), 65536u);
    // High half alone: 0x7FFF0000 is far out of range; nothing changes.
    const std::uint16_t big[] = {0x7FFF};
    EXPECT_EQ(image.writeRegisters(3, big), ModbusError::IllegalValue);
    EXPECT_EQ(*image.parameter(2), 65536u);
}

TEST(DriveImage, MultiRegisterWriteIsAllOrNothing) {
    sim::DriveImage image(smallLayout());
    // P0 valid, P1 read-only: neither is written.
    const std::uint16_t a[] = {50, 7};
    EXPECT_EQ(image.writeRegisters(0, a), ModbusError::IllegalAddress);
    // P2 valid, P3 out of range: neither is written.
    const std::uint16_t b[] = {1, 0, 200};
    EXPECT_EQ(image.writeRegisters(2, b), ModbusError::IllegalValue);
    EXPECT_EQ(read(image, 0, 5), (std::vector<std::uint16_t>{10, 1207, 0xFFFB, 0xFFFF, 0xFFFF}));
}

TEST(DriveImage, StrictReadsRefuseUnmappedRegisters) {
    sim::DriveImage image(smallLayout());
    std::vector<std::uint16_t> out;
    EXPECT_EQ(image.readRegisters(0, 6, true, out), ModbusError::IllegalAddress);
    EXPECT_EQ(image.readRegisters(0, 5, true, out), ModbusError::None);
    EXPECT_EQ(image.readRegisters(100, 11, true, out), ModbusError::None);
    EXPECT_EQ(image.readRegisters(0xFFFF, 1, true, out),
              ModbusError::None);  // EEPROM command register
    EXPECT_EQ(image.readRegisters(0xFFFF, 2, false, out), ModbusError::IllegalAddress);
    // An override maps a register.
    image.setRegister(5, 9);
    EXPECT_EQ(image.readRegisters(0, 6, true, out), ModbusError::None);
    EXPECT_EQ(out[5], 9);
}

TEST(DriveImage, AlarmSitsInStatusItemEightAndStopsTheAxis) {
    sim::DriveImage image(smallLayout());
    image.setAlarm(13);
    EXPECT_EQ(read(image, 108, 1)[0], 13);
    EXPECT_EQ(*image.input(7), true);   // alarm output
    EXPECT_EQ(*image.input(0), false);  // not ready
    image.setAlarm(0);
    EXPECT_EQ(read(image, 108, 1)[0], 0);
    EXPECT_EQ(*image.input(0), true);
}

TEST(DriveImage, OverridesAndForcedInputsUntilReleased) {
    sim::DriveImage image(smallLayout());
    image.setRegister(200, 1234);
    EXPECT_EQ(read(image, 200, 1)[0], 1234);
    image.releaseRegister(200);
    // Back to the model: about 311 V in 0.1 V.
    EXPECT_NEAR(read(image, 200, 1)[0], 3110, 100);
    image.forceInput(3, true);
    EXPECT_TRUE(*image.input(3));
    image.forceInput(3, false);
    EXPECT_FALSE(*image.input(3));
    // A parameter register is set directly, without the range check.
    image.setRegister(0, 500);
    EXPECT_EQ(*image.parameter(0), 500u);
}

TEST(DriveImage, CoilsAndInputRanges) {
    sim::DriveImage image(smallLayout());
    std::vector<bool> bits;
    EXPECT_EQ(image.writeCoils(6, {true, true}), ModbusError::None);
    EXPECT_EQ(image.writeCoils(7, {true, true}), ModbusError::IllegalAddress);
    EXPECT_EQ(image.readCoils(0, 8, bits), ModbusError::None);
    EXPECT_EQ(bits, (std::vector<bool>{false, false, false, false, false, false, true, true}));
    EXPECT_EQ(image.readCoils(0, 9, bits), ModbusError::IllegalAddress);
    EXPECT_EQ(image.readInputs(0, 10, bits), ModbusError::None);
    EXPECT_EQ(bits.size(), 10u);
    EXPECT_EQ(image.readInputs(9, 2, bits), ModbusError::IllegalAddress);
}

TEST(Eeprom, StoresSurviveAReloadAndFailuresChangeNothing) {
    simtest::TempDir dir;
    const auto file = dir.path() / "eeprom.txt";
    std::string error;
    {
        sim::DriveImage image(smallLayout());
        ASSERT_TRUE(image.attachEeprom(file, error)) << error;
        image.setParameter(0, 42);
        image.setParameter(3, 0xFFF6);  // -10
        EXPECT_EQ(image.storeParameter(0), ModbusError::None);
        EXPECT_EQ(image.storeParameter(4), ModbusError::IllegalValue);
        EXPECT_EQ(*image.storedValue(3), 0xFFFFu);  // not stored yet: factory
    }
    {
        sim::DriveImage image(smallLayout());
        ASSERT_TRUE(image.attachEeprom(file, error)) << error;
        EXPECT_EQ(*image.parameter(0), 42u);
        EXPECT_EQ(*image.parameter(3), 0xFFFFu);
        image.setParameter(3, 0xFFF6);
        EXPECT_EQ(image.storeAll(), ModbusError::None);
    }
    const std::string before = [&] {
        std::ifstream in(file);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    EXPECT_NE(before.find("\n4 65526\n"), std::string::npos) << before;
    {
        sim::DriveImage image(smallLayout());
        ASSERT_TRUE(image.attachEeprom(file, error)) << error;
        EXPECT_EQ(*image.parameter(3), 0xFFF6u);
        // A store that cannot be written fails as a device failure.
        std::filesystem::remove_all(dir.path());
        image.setParameter(0, 7);
        EXPECT_EQ(image.storeParameter(0), ModbusError::DeviceFailure);
        EXPECT_EQ(*image.storedValue(0), 42u);
    }
}

TEST(Eeprom, KeepsRegistersItDoesNotKnow) {
    std::string error;
    auto values = sim::parseEeprom("servo-sim-eeprom 1\n# c\n0 5\n999 77\n", error);
    ASSERT_TRUE(values) << error;
    simtest::TempDir dir;
    const auto file = dir.path() / "e.txt";
    ASSERT_TRUE(sim::writeEepromFile(file, *values, error));
    sim::DriveImage image(smallLayout());
    ASSERT_TRUE(image.attachEeprom(file, error));
    EXPECT_EQ(*image.parameter(0), 5u);
    ASSERT_EQ(image.storeAll(), ModbusError::None);
    auto back = sim::readEepromFile(file, error);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->at(999), 77u);
    EXPECT_EQ(back->at(2), 0xFFFFFFFBu);  // every parameter is in the image
}

TEST(Eeprom, MalformedFilesAreRefused) {
    std::string error;
    for (const char* text :
         {"", "0 5\n", "servo-sim-eeprom 2\n", "servo-sim-eeprom 1\n0\n",
          "servo-sim-eeprom 1\n0 x\n", "servo-sim-eeprom 1\n70000 1\n",
          "servo-sim-eeprom 1\n0 4294967296\n", "servo-sim-eeprom 1\n1 2\n1 3\n"}) {
        error.clear();
        EXPECT_FALSE(sim::parseEeprom(text, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
    auto ok = sim::parseEeprom("\n  servo-sim-eeprom 1  \r\n 3\t4294967295\r\n", error);
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(ok->at(3), 4294967295u);
}

// ---- Request handling ---------------------------------------------------

struct SlaveRig {
    sim::DriveImage image{smallLayout()};
    sim::SlaveSettings settings;
    sim::FaultSettings faults;
    sim::SlaveStats stats;
    sim::RequestLog log;
    std::vector<std::chrono::milliseconds> waits;
    sim::RtuSlave slave{image, settings, faults, stats, log, [this](std::chrono::milliseconds ms) {
                            waits.push_back(ms);
                            return true;
                        }};

    std::optional<simtest::Bytes> send(simtest::Bytes frame) {
        return slave.handle(simtest::withCrc(std::move(frame)));
    }
};

simtest::Bytes pdu(const std::optional<simtest::Bytes>& frame) {
    if (!frame || frame->size() < 4) return {};
    EXPECT_TRUE(sim::crcValid(*frame));
    return simtest::Bytes(frame->begin() + 1, frame->end() - 2);
}

TEST(RtuSlave, AnswersTheFunctionCodesOfTheTool) {
    SlaveRig rig;
    EXPECT_EQ(pdu(rig.send({1, 3, 0, 0, 0, 2})), (simtest::Bytes{3, 4, 0, 10, 0x04, 0xB7}));
    EXPECT_EQ(pdu(rig.send({1, 6, 0, 0, 0, 55})), (simtest::Bytes{6, 0, 0, 0, 55}));
    EXPECT_EQ(pdu(rig.send({1, 16, 0, 2, 0, 2, 4, 0x86, 0xA0, 0, 1})),
              (simtest::Bytes{16, 0, 2, 0, 2}));
    EXPECT_EQ(*rig.image.parameter(2), 100000u);
    EXPECT_EQ(pdu(rig.send({1, 5, 0, 2, 0xFF, 0})), (simtest::Bytes{5, 0, 2, 0xFF, 0}));
    EXPECT_EQ(pdu(rig.send({1, 15, 0, 4, 0, 4, 1, 0x09})), (simtest::Bytes{15, 0, 4, 0, 4}));
    EXPECT_EQ(pdu(rig.send({1, 1, 0, 0, 0, 8})), (simtest::Bytes{1, 1, 0x94}));
    auto inputs = pdu(rig.send({1, 2, 0, 0, 0, 10}));
    ASSERT_EQ(inputs.size(), 4u);
    EXPECT_EQ(inputs[1], 2);
    EXPECT_EQ(inputs[3] & 0xFC, 0);  // only X8 and X9 in the second byte
}

TEST(RtuSlave, ExceptionCodes) {
    SlaveRig rig;
    auto code = [&](simtest::Bytes frame) {
        auto r = pdu(rig.send(std::move(frame)));
        return r.size() == 2 && (r[0] & 0x80) ? r[1] : -1;
    };
    EXPECT_EQ(code({1, 4, 0, 0, 0, 1}), 1);                  // input registers: not offered
    EXPECT_EQ(code({1, 0x2B, 0x0E, 1, 0}), 1);               // device identification: not offered
    EXPECT_EQ(code({1, 6, 0, 1, 0, 1}), 2);                  // read-only
    EXPECT_EQ(code({1, 6, 0, 0, 0, 101}), 3);                // above the maximum
    EXPECT_EQ(code({1, 3, 0, 0, 0, 0}), 3);                  // no registers
    EXPECT_EQ(code({1, 3, 0, 0, 0, 126}), 3);                // too many
    EXPECT_EQ(code({1, 3, 0, 0, 0}), 3);                     // short request
    EXPECT_EQ(code({1, 16, 0, 0, 0, 2, 2, 0, 1, 0, 2}), 3);  // byte count disagrees
    EXPECT_EQ(code({1, 5, 0, 0, 0x12, 0x34}), 3);            // coil value neither on nor off
    EXPECT_EQ(code({1, 1, 0, 8, 0, 1}), 2);                  // no coil 8
    EXPECT_EQ(code({1, 6, 0xFF, 0xFF, 0, 4}), 3);            // no parameter 4 to store
    EXPECT_EQ(code({1, 16, 0xFF, 0xFE, 0, 2, 4, 0, 0, 0, 0}), 2);  // command register in a run
    rig.settings.strict = true;
    EXPECT_EQ(code({1, 3, 0, 0, 0, 11}), 2);
}

TEST(RtuSlave, IgnoresWhatIsNotForIt) {
    SlaveRig rig;
    EXPECT_FALSE(rig.send({2, 3, 0, 0, 0, 1}));  // another station
    simtest::Bytes bad = simtest::withCrc({1, 3, 0, 0, 0, 1});
    bad.back() ^= 1;
    EXPECT_FALSE(rig.slave.handle(bad));
    EXPECT_FALSE(rig.slave.handle(simtest::Bytes{1, 3, 0}));
    // A broadcast write is executed without an answer; a broadcast read is ignored.
    EXPECT_FALSE(rig.send({0, 6, 0, 0, 0, 77}));
    EXPECT_EQ(*rig.image.parameter(0), 77u);
    EXPECT_FALSE(rig.send({0, 3, 0, 0, 0, 1}));
    EXPECT_EQ(rig.stats.ignored.load(), 3u);
    rig.settings.station = 2;
    EXPECT_TRUE(rig.send({2, 3, 0, 0, 0, 1}));
}

TEST(RtuSlave, EepromCommands) {
    SlaveRig rig;
    rig.settings.eepromMs = 250;
    rig.image.setParameter(0, 33);
    EXPECT_EQ(pdu(rig.send({1, 6, 0xFF, 0xFF, 0, 0})), (simtest::Bytes{6, 0xFF, 0xFF, 0, 0}));
    EXPECT_TRUE(rig.waits.empty());  // one parameter: at once
    EXPECT_EQ(*rig.image.storedValue(0), 33u);
    rig.image.setParameter(3, 5);
    EXPECT_EQ(pdu(rig.send({1, 16, 0xFF, 0xFF, 0, 1, 2, 0xFF, 0xFF})),
              (simtest::Bytes{16, 0xFF, 0xFF, 0, 1}));
    ASSERT_EQ(rig.waits.size(), 1u);
    EXPECT_EQ(rig.waits[0].count(), 250);
    EXPECT_EQ(*rig.image.storedValue(3), 5u);
}

TEST(RtuSlave, InjectedExceptionsAndRejectedWrites) {
    SlaveRig rig;
    rig.faults.exceptionCode = 6;
    EXPECT_EQ(pdu(rig.send({1, 6, 0, 0, 0, 50})), (simtest::Bytes{0x86, 6}));
    EXPECT_EQ(*rig.image.parameter(0), 10u);  // not executed
    rig.faults.exceptionCode = 0;
    // The second write from now is refused; reads do not count.
    rig.faults.rejectCode = 4;
    rig.faults.rejectCountdown = 2;
    EXPECT_EQ(pdu(rig.send({1, 6, 0, 0, 0, 50})), (simtest::Bytes{6, 0, 0, 0, 50}));
    EXPECT_EQ(pdu(rig.send({1, 3, 0, 0, 0, 1})).at(0), 3);
    EXPECT_EQ(pdu(rig.send({1, 6, 0, 0, 0, 51})), (simtest::Bytes{0x86, 4}));
    // A master's retry of the refused write is refused again; another write is not.
    EXPECT_EQ(pdu(rig.send({1, 6, 0, 0, 0, 51})), (simtest::Bytes{0x86, 4}));
    EXPECT_EQ(*rig.image.parameter(0), 50u);
    EXPECT_EQ(pdu(rig.send({1, 6, 0, 0, 0, 52})), (simtest::Bytes{6, 0, 0, 0, 52}));
    EXPECT_EQ(pdu(rig.send({1, 6, 0, 0, 0, 51})), (simtest::Bytes{6, 0, 0, 0, 51}));
}

TEST(RtuSlave, NoAnswerAtARate) {
    SlaveRig rig;
    rig.faults.noAnswerPercent = 30;
    int answered = 0;
    for (int i = 0; i < 1000; ++i) answered += rig.send({1, 6, 0, 0, 0, 1}).has_value();
    EXPECT_GT(answered, 600);
    EXPECT_LT(answered, 800);
    EXPECT_EQ(rig.stats.dropped.load(), static_cast<std::uint64_t>(1000 - answered));
}

TEST(ResponseFaults, ShapeTheFrame) {
    const simtest::Bytes good = simtest::withCrc({1, 3, 2, 0, 10});
    sim::FaultSettings f;
    std::mt19937 random(1);
    EXPECT_EQ(sim::shapeResponse(good, f, random).bytes, good);

    f.wrongStation = true;
    auto t = sim::shapeResponse(good, f, random);
    EXPECT_TRUE(sim::crcValid(t.bytes));
    EXPECT_EQ(t.bytes[0], 2);
    f.wrongStation = false;

    f.badCrc = true;
    t = sim::shapeResponse(good, f, random);
    EXPECT_FALSE(sim::crcValid(t.bytes));
    EXPECT_EQ(simtest::Bytes(t.bytes.begin(), t.bytes.end() - 2),
              simtest::Bytes(good.begin(), good.end() - 2));
    f.badCrc = false;

    f.truncateBytes = 3;
    EXPECT_EQ(sim::shapeResponse(good, f, random).bytes,
              simtest::Bytes(good.begin(), good.end() - 3));
    f.truncateBytes = 0;

    f.garbageBefore = 2;
    f.garbageAfter = 3;
    f.gapMs = 40;
    f.delayMs = 70;
    t = sim::shapeResponse(good, f, random);
    ASSERT_EQ(t.bytes.size(), good.size() + 5);
    EXPECT_EQ(simtest::Bytes(t.bytes.begin() + 2, t.bytes.end() - 3), good);
    EXPECT_EQ(t.gapAt, 2u + good.size() / 2);  // the middle of the frame itself
    EXPECT_EQ(t.gap, std::chrono::milliseconds(40));
    EXPECT_EQ(t.delay, std::chrono::milliseconds(70));
    f.gapAt = 1;
    EXPECT_EQ(sim::shapeResponse(good, f, random).gapAt, 3u);
}

TEST(ResponseFaults, LateAnswersReplayWithTheSeedAndAsciiKeepsTheFaults) {
    const simtest::Bytes good = simtest::withCrc({1, 3, 2, 0, 10});
    sim::FaultSettings f;
    f.delayMs = 5;
    f.latePercent = 20;
    f.lateMs = 250;
    auto lateOnes = [&](std::uint32_t seed) {
        std::mt19937 random(seed);
        std::vector<int> late;
        for (int i = 0; i < 200; ++i) {
            const auto d = sim::shapeResponse(good, f, random).delay;
            EXPECT_TRUE(d == std::chrono::milliseconds(5) || d == std::chrono::milliseconds(255));
            if (d == std::chrono::milliseconds(255)) late.push_back(i);
        }
        return late;
    };
    const auto a = lateOnes(7);
    EXPECT_EQ(lateOnes(7), a);  // one seed, one run
    EXPECT_NE(lateOnes(8), a);
    EXPECT_GT(a.size(), 20u);
    EXPECT_LT(a.size(), 60u);

    // ASCII: ':', hex pairs, LRC, CR LF; a bad CRC becomes a bad LRC.
    f.clear();
    std::mt19937 random(1);
    const auto ascii = sim::shapeResponse(good, f, random, true).bytes;
    EXPECT_EQ(std::string(ascii.begin(), ascii.end()), ":010302000AF0\r\n");
    f.badCrc = true;
    const auto bad = sim::shapeResponse(good, f, random, true).bytes;
    EXPECT_EQ(std::string(bad.begin(), bad.end() - 4), ":010302000A");
    EXPECT_NE(bad, ascii);
}

// ---- The model ----------------------------------------------------------

TEST(ServoModel, SampleQuantityNamesAreRecognised) {
    using Q = sim::Quantity;
    const std::pair<const char*, Q> cases[] = {
        {"Motor speed", Q::SpeedFeedback},
        {"电机转速", Q::SpeedFeedback},
        {"Speed command", Q::SpeedCommand},
        {"速度指令", Q::SpeedCommand},
        {"Position command speed (rpm)", Q::SpeedCommand},
        {"位置指令速度(rpm)", Q::SpeedCommand},
        {"Output torque", Q::Torque},
        {"转矩指令(0.1%)", Q::TorqueCommand},
        {"Phase current (RMS)", Q::Current},
        {"相电流有效值", Q::Current},
        {"Phase U current (0.1 A)", Q::PhaseCurrentU},
        {"V相电流(0.1A)", Q::PhaseCurrentV},
        {"Position feedback", Q::PositionFeedback},
        {"位置偏差", Q::FollowingError},
        {"Following error", Q::FollowingError},
        {"DC bus voltage", Q::BusVoltage},
        {"母线电压", Q::BusVoltage},
        {"Drive temperature", Q::Temperature},
        {"驱动器温度", Q::Temperature},
        {"Alarm code", Q::Alarm},
        {"报警代码", Q::Alarm},
        {"Input terminals", Q::InputBits},
        {"输入端子状态", Q::InputBits},
        {"Output terminals", Q::OutputBits},
        {"Load ratio", Q::LoadRate},
        {"再生负载率", Q::RegenLoad},
        {"Command pulse count", Q::PositionCommand},
        {"指令脉冲累计", Q::PositionCommand},
        {"AI1 voltage", Q::AnalogInput1},
        {"AI2输入电压", Q::AnalogInput2},
        {"Estimated inertia ratio", Q::InertiaRatio},
        {"Something else", Q::None},
    };
    for (const auto& [name, quantity] : cases)
        EXPECT_EQ(sim::quantityName(sim::classifyQuantity(name)), sim::quantityName(quantity))
            << name;
    EXPECT_DOUBLE_EQ(sim::scaleFromName("Output torque (0.1%)"), 10.0);
    EXPECT_DOUBLE_EQ(sim::scaleFromName("U相电流(0.1A)"), 10.0);
    EXPECT_DOUBLE_EQ(sim::scaleFromName("Motor speed (rpm)"), 1.0);
    EXPECT_DOUBLE_EQ(sim::scaleFromName("Motor speed"), 1.0);
}

TEST(ServoModel, FollowsTheProfileAndReturnsToItsStart) {
    sim::ServoModel model;
    model.advanceTo(0.45);  // in the forward plateau
    EXPECT_NEAR(model.value(sim::Quantity::SpeedCommand), 1000.0, 1e-9);
    EXPECT_NEAR(model.value(sim::Quantity::SpeedFeedback), 1000.0, 20.0);
    EXPECT_FALSE(model.inputBits(false) & 2);  // not at zero speed
    EXPECT_TRUE(model.inputBits(false) & 16);  // running forward
    model.advanceTo(1.9);                      // at rest after the forward move
    EXPECT_NEAR(model.value(sim::Quantity::PositionFeedback), 83333.0, 200.0);
    EXPECT_TRUE(model.inputBits(false) & 2);
    EXPECT_TRUE(model.inputBits(false) & 8);  // in position
    model.advanceTo(9.9);                     // back and forth: home again
    EXPECT_NEAR(model.value(sim::Quantity::PositionFeedback), 0.0, 50.0);
    EXPECT_NEAR(model.value(sim::Quantity::Temperature), 32.0, 5.0);
    // Disabled (alarm): the command drops and the motor runs down.
    model.advanceTo(10.4);
    model.setEnabled(false);
    model.advanceTo(10.6);
    EXPECT_EQ(model.value(sim::Quantity::SpeedCommand), 0.0);
    EXPECT_NEAR(model.value(sim::Quantity::SpeedFeedback), 0.0, 1.0);
}

}  // namespace
