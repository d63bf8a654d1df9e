// servoctl's drive commands end to end against servo-sim through COM1 mapped
// to its pty. What reaches the drive is checked in the simulator's request
// log and its parameter values, not in servoctl's own words.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "data/language.h"
#include "data/value_file.h"
#include "platform/file_io.h"
#include "platform/text.h"
#include "run_command.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"

namespace {

using nlohmann::json;
using testing_support::CommandResult;

// Table positions in the simulator's language file (dist/Language/DefineEn.cfg).
constexpr int kMotorCode = 0;        // P00.00, INT16U 0..9999, register 0
constexpr int kRatedCurrent = 3;     // P00.03, read-only
constexpr int kPulsesPerRev = 15;    // P01.03, INT32U 0..8388608 pulse/rev, registers 15-16
constexpr int kSmoothing = 18;       // P01.06, INT16U 0..1000 ms, register 21
constexpr int kInternalSpeed1 = 44;  // P03.01, INT16S -6000..6000 rpm, register 48
constexpr int kParameterCount = 99;

class ServoctlDrive : public ::testing::Test {
  protected:
    void SetUp() override { sim.exportAsCom(1); }

    // Time-outs generous enough for a loaded machine; tests of lost answers
    // give their own.
    CommandResult run(const std::string& args,
                      const std::string& timing = "--timeout 300 --retries 2") {
        return testing_support::runCommand(
            std::string(SERVOCTL_PATH) + " --port COM1 " + timing + " " + args,
            (dir.path() / "stderr.txt").string());
    }
    // Every frame that reached the simulator since the last call, upper-case hex.
    std::vector<std::string> frames() {
        std::istringstream in(sim.ok("log dump"));
        std::size_t count = 0;
        in >> count;
        std::vector<std::string> out(count);
        for (auto& f : out) in >> f;
        sim.ok("log on");
        return out;
    }
    static std::size_t writes(const std::vector<std::string>& frames) {
        return static_cast<std::size_t>(std::count_if(frames.begin(), frames.end(), [](auto& f) {
            return f.compare(2, 2, "06") == 0 || f.compare(2, 2, "10") == 0;
        }));
    }
    std::string param(int index) { return sim.ok("get param " + std::to_string(index)); }
    std::string path(const std::string& name) const { return (dir.path() / name).string(); }

    testsupport::SimProcess sim{{"--no-pace", "--eeprom-ms", "50"}};
    testsupport::TempDir dir;
};

TEST_F(ServoctlDrive, StatusShowsValuesAsThePageAlarmTextAndIo) {
    sim.ok("alarm 3");
    sim.ok("set input 2 1");
    sim.ok("set coil 5 1");
    // DC bus voltage, INT16U with divisor 10: shown with three decimals.
    sim.ok("set reg 4104 3115");
    CommandResult r = run("--json status");
    ASSERT_EQ(r.status, 0) << r.err;
    const json j = json::parse(r.out);
    ASSERT_EQ(j["items"].size(), 17u);
    EXPECT_EQ(j["items"][6]["name"], "DC bus voltage");
    EXPECT_EQ(j["items"][6]["value"], "311.500");
    EXPECT_EQ(j["items"][6]["unit"], "V");
    EXPECT_EQ(j["alarm"]["code"], 3);
    EXPECT_EQ(j["alarm"]["content"], "Undervoltage");
    EXPECT_EQ(j["inputs"][2], 1);
    EXPECT_EQ(j["outputs"][5], 1);

    r = run("status");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("311.500"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("alarm 3: Undervoltage"), std::string::npos) << r.out;
}

TEST_F(ServoctlDrive, ParamsListsEveryParameterWithShownAndRawValue) {
    sim.ok("set param " + std::to_string(kInternalSpeed1) + " -1500");
    CommandResult r = run("--json params");
    ASSERT_EQ(r.status, 0) << r.err;
    const json j = json::parse(r.out);
    ASSERT_EQ(j["parameters"].size(), static_cast<std::size_t>(kParameterCount));
    const json& p = j["parameters"][kInternalSpeed1];
    EXPECT_EQ(p["number"], "P03.01");
    EXPECT_EQ(p["value"], "-1500");
    EXPECT_EQ(p["raw"], 0x10000 - 1500);
    EXPECT_EQ(p["unit"], "rpm");
    EXPECT_EQ(p["minimum"], "-6000");
    EXPECT_EQ(p["maximum"], "6000");
    EXPECT_EQ(p["factory"], "100");

    r = run("params");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("P03.01"), std::string::npos);
    EXPECT_NE(r.out.find("-1500"), std::string::npos);
}

TEST_F(ServoctlDrive, GetReadsOneParameterAndRefusesAnUnknownNumber) {
    sim.ok("set param " + std::to_string(kPulsesPerRev) + " 131072");
    CommandResult r = run("get P01.03");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("131072 pulse/rev"), std::string::npos) << r.out;

    frames();
    r = run("get P77.77");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("P77.77"), std::string::npos) << r.err;
    // A language file saved as UTF-8 yields no tables: refused by name.
    std::ofstream(path("utf8.cfg")) << "[<2>]\n#[P01.03]\n#END\n";
    r = run("--defs " + path("utf8.cfg") + " get P01.03");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("utf8.cfg: holds no parameter table"), std::string::npos) << r.err;
    EXPECT_TRUE(frames().empty());
}

TEST_F(ServoctlDrive, SetWritesRamOrEepromAndRefusesBadValuesWithoutSending) {
    sim.ok("log on");
    CommandResult r = run("set P01.06 250");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(param(kSmoothing), "250");
    EXPECT_EQ(sim.ok("get eeprom " + std::to_string(kSmoothing)), "0");
    r = run("set P01.03 20000 --eeprom");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(param(kPulsesPerRev), "20000");
    EXPECT_EQ(sim.ok("get eeprom " + std::to_string(kPulsesPerRev)), "20000");

    frames();
    for (const char* bad : {"1001", "-1", "12x", "abc", "99999999999"}) {
        r = run(std::string("set P01.06 ") + bad);
        EXPECT_EQ(r.status, 1) << bad;
        EXPECT_NE(r.err.find("0 to 1000 ms"), std::string::npos) << bad << ": " << r.err;
    }
    r = run("set P00.03 10");  // read-only
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("read-only"), std::string::npos) << r.err;
    EXPECT_EQ(writes(frames()), 0u);
    EXPECT_EQ(param(kSmoothing), "250");

    // The value goes in, the EEPROM store is refused: the message says which.
    sim.ok("rejectwrite 2 4");
    r = run("set P01.06 9 --eeprom");
    EXPECT_EQ(r.status, 5);
    EXPECT_NE(r.err.find("the value was written, but storing it in the EEPROM failed"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(param(kSmoothing), "9");
}

TEST_F(ServoctlDrive, SetWhoseAnswerIsLostSaysTheWriteMayHaveBeenApplied) {
    // Answers after both tries of 100 ms have given up: the write was applied.
    sim.ok("delay 400");
    const CommandResult r = run("set P01.06 300", "--timeout 100 --retries 1");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("time-out: the drive may have applied the write; read it back"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(param(kSmoothing), "300");
}

// A command that ends after a time-out leaves the answer on its way; the
// next command's read of one register would fit it.
TEST_F(ServoctlDrive, ALateAnswerToAFailedCommandNeverReachesTheNext) {
    sim.ok("set param " + std::to_string(kSmoothing) + " 250");
    sim.ok("set param " + std::to_string(kMotorCode) + " 1234");
    sim.ok("delay 250");
    CommandResult r = run("get P01.06", "--timeout 200 --retries 0");
    EXPECT_EQ(r.status, 3) << r.out;
    sim.ok("delay off");
    r = run("get P00.00", "--timeout 200 --retries 0");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("1234"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("250"), std::string::npos) << r.out;
}

TEST_F(ServoctlDrive, BackupReadsEveryParameterFirstAndWritesAFileTheProgramLoads) {
    sim.ok("set param " + std::to_string(kMotorCode) + " 1234");
    sim.ok("set param " + std::to_string(kInternalSpeed1) + " -77");
    sim.ok("log on");
    const std::string file = path("drive.dat");
    CommandResult r = run("backup " + file);
    ASSERT_EQ(r.status, 0) << r.err;
    // Registers 0 to 107 (every parameter) were read in this run, in 12-register
    // blocks: the file comes from a complete read, and nothing was written.
    const auto log = frames();
    EXPECT_EQ(writes(log), 0u);
    std::vector<std::string> blocks;
    for (const auto& f : log)
        if (f.compare(0, 4, "0103") == 0) blocks.push_back(f.substr(4, 8));
    std::vector<std::string> expected;
    for (int address = 0; address < 108; address += 12) {
        char block[9];
        std::snprintf(block, sizeof block, "%04X000C", address);
        expected.push_back(block);
    }
    EXPECT_EQ(blocks, expected);

    const auto lang = platform::readWholeFile(std::string(SIM_DEFS));
    ASSERT_TRUE(lang);
    data::LanguageData table = data::parseLanguageBytes(*lang);
    ASSERT_EQ(data::loadValueFile(file, table.parameters().span()), 1);
    EXPECT_EQ(table.parameters()[kMotorCode].fileValue.load(), 1234u);
    EXPECT_EQ(table.parameters()[kInternalSpeed1].fileValue.load() & 0xFFFF, 0x10000u - 77);

    r = run("dat " + file + " --defs " + SIM_DEFS);
    EXPECT_EQ(r.status, 0) << r.err;

    // A failed read leaves no file behind.
    sim.ok("noanswer on");
    r = run("backup " + path("none.dat"), "--timeout 50 --retries 0");
    EXPECT_EQ(r.status, 3);
    EXPECT_FALSE(std::filesystem::exists(path("none.dat")));
}

TEST_F(ServoctlDrive, RestoreChecksTheWholeFileFirstAndVerifies) {
    const std::string file = path("saved.dat");
    sim.ok("set param " + std::to_string(kSmoothing) + " 333");
    ASSERT_EQ(run("backup " + file).status, 0);
    sim.ok("set param " + std::to_string(kSmoothing) + " 5");
    sim.ok("set param " + std::to_string(kPulsesPerRev) + " 4096");

    CommandResult r = run("restore " + file + " --verify");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(param(kSmoothing), "333");
    EXPECT_EQ(param(kPulsesPerRev), "10000");

    // Two values out of range in the file: both named, nothing sent.
    data::LanguageData table = data::parseLanguageBytes(*platform::readWholeFile(SIM_DEFS));
    ASSERT_EQ(data::loadValueFile(file, table.parameters().span()), 1);
    for (auto& p : table.parameters()) p.driveValue.store(p.fileValue.load());
    table.parameters()[kSmoothing].driveValue.store(1001);
    table.parameters()[kInternalSpeed1].driveValue.store(0x10000 - 6001);
    ASSERT_EQ(data::saveValueFile(path("bad.dat"), table.parameters().span()), 1);
    sim.ok("log on");
    r = run("restore " + path("bad.dat"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("1001 is outside the range: P01.06 takes 0 to 1000 ms"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("-6001 is outside the range: P03.01 takes -6000 to 6000 rpm"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(frames().empty());

    // Without --verify the values are written all the same.
    sim.ok("set param " + std::to_string(kSmoothing) + " 5");
    r = run("restore " + file);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(param(kSmoothing), "333");
}

TEST_F(ServoctlDrive, RestoreOnlyWritesTheNamedParametersAndReadsEachBack) {
    const std::string file = path("saved.dat");
    sim.ok("set param " + std::to_string(kSmoothing) + " 333");
    sim.ok("set param " + std::to_string(kMotorCode) + " 1234");
    ASSERT_EQ(run("backup " + file).status, 0);
    sim.ok("set param " + std::to_string(kSmoothing) + " 5");
    sim.ok("set param " + std::to_string(kMotorCode) + " 7");
    sim.ok("log on");

    CommandResult r = run("--json restore " + file + " --only p01.06");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(writes(frames()), 1u);
    EXPECT_EQ(param(kSmoothing), "333");
    EXPECT_EQ(param(kMotorCode), "7");
    json j = json::parse(r.out);
    ASSERT_EQ(j["items"].size(), 1u);
    EXPECT_EQ(j["items"][0]["number"], "P01.06");
    EXPECT_EQ(j["items"][0]["outcome"], "written and verified");

    // A refused one is named with the drive's reason; the other still goes.
    sim.ok("rejectwrite 1 3");
    r = run("restore " + file + " --only P00.00,P01.06");
    EXPECT_EQ(r.status, 5) << r.out << r.err;
    EXPECT_NE(r.out.find("P00.00 1234: refused: the drive refused the value: exception 03"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("P01.06 333 ms: written and verified"), std::string::npos) << r.out;
    EXPECT_EQ(param(kMotorCode), "7");

    // A read-only or unknown name is refused before anything is sent.
    r = run("restore " + file + " --only P01.06,P00.03");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("P00.03"), std::string::npos) << r.err;
    EXPECT_EQ(run("restore " + file + " --only P77.77").status, 1);
    // Only the refused run's two registers were written (the master sends a
    // refused request again as often as its retries allow).
    std::vector<std::string> written;
    for (const std::string& f : frames())
        if (f.compare(2, 2, "06") == 0 || f.compare(2, 2, "10") == 0)
            written.push_back(f.substr(4, 4));
    written.erase(std::unique(written.begin(), written.end()), written.end());
    EXPECT_EQ(written, (std::vector<std::string>{"0000", "0015"}));
}

TEST_F(ServoctlDrive, RestoreStoppedByARefusedWriteNamesWhatWasWritten) {
    const std::string file = path("saved.dat");
    ASSERT_EQ(run("backup " + file).status, 0);
    sim.ok("set param 6 2");  // P00.06
    // The fifth write (P00.06: P00.03 and P00.04 are read-only) is refused with
    // exception 04; the others still go.
    sim.ok("rejectwrite 5 4");
    CommandResult r = run("--json restore --verify " + file);
    EXPECT_EQ(r.status, 5) << r.err;
    const json j = json::parse(r.out);
    ASSERT_GE(j["written"].size(), 5u);
    EXPECT_EQ(j["written"][3], "P00.05");
    EXPECT_EQ(j["written"][4], "P00.07");
    ASSERT_EQ(j["failed"].size(), 1u);
    EXPECT_EQ(j["failed"][0]["number"], "P00.06");
    EXPECT_EQ(j["failed"][0]["outcome"], "refused");
    EXPECT_TRUE(j["notReached"].empty());
    // The read-back finds the refused value still different.
    ASSERT_EQ(j["verify"]["differences"].size(), 1u);
    EXPECT_EQ(j["verify"]["differences"][0]["drive"], "2");
    EXPECT_NE(r.err.find("P00.06: the drive refused the value: exception 04"), std::string::npos)
        << r.err;
    EXPECT_EQ(param(6), "2");

    // In words: which parameters were written.
    sim.ok("rejectwrite 1 4");
    r = run("restore " + file);
    EXPECT_EQ(r.status, 5);
    EXPECT_NE(r.out.find("written: P00.01 P00.02 P00.05"), std::string::npos) << r.out;
}

TEST_F(ServoctlDrive, RestoreCutOffByALostLinkSaysWhatWasSentAndWhatWasNot) {
    const std::string file = path("saved.dat");
    ASSERT_EQ(run("backup " + file).status, 0);
    // Three requests in ten are ignored (and not executed): with one retry a
    // write soon goes unanswered twice, and the restore stops there.
    sim.ok("noanswer 30");
    sim.ok("log on");
    const CommandResult r = run("--json restore " + file, "--timeout 100 --retries 1");
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("time-out: the drive may have applied the write; read it back"),
              std::string::npos)
        << r.err;
    const json j = json::parse(r.out);
    ASSERT_EQ(j["failed"].size(), 1u);
    EXPECT_EQ(j["failed"][0]["outcome"], "unconfirmed");
    ASSERT_FALSE(j["notReached"].empty());
    EXPECT_EQ(j["written"].size() + 1 + j["notReached"].size() + j["unchanged"].size(),
              static_cast<std::size_t>(kParameterCount));

    // The log agrees: the written ones and the failed one were sent, the rest never.
    std::vector<int> sent;
    for (const auto& f : frames())
        if (f.compare(2, 2, "06") == 0 || f.compare(2, 2, "10") == 0)
            sent.push_back(std::stoi(f.substr(4, 4), nullptr, 16));
    const auto lang = data::parseLanguageBytes(*platform::readWholeFile(SIM_DEFS));
    const auto registerOf = [&](const json& number) {
        for (const auto& p : lang.parameters())
            if (p.numberText.view() == platform::fromUtf8(number.get<std::string>()))
                return static_cast<int>(p.address);
        return -1;
    };
    const auto wasSent = [&](const json& number) {
        return std::find(sent.begin(), sent.end(), registerOf(number)) != sent.end();
    };
    for (const json& n : j["written"]) EXPECT_TRUE(wasSent(n)) << n;
    EXPECT_TRUE(wasSent(j["failed"][0]["number"]));
    for (const json& n : j["notReached"]) EXPECT_FALSE(wasSent(n)) << n;
}

TEST_F(ServoctlDrive, DiffListsOneLinePerDifferenceAgainstAFileOrTheFactoryValues) {
    const std::string file = path("saved.dat");
    ASSERT_EQ(run("backup " + file).status, 0);
    sim.ok("set param " + std::to_string(kSmoothing) + " 12");
    sim.ok("set param " + std::to_string(kInternalSpeed1) + " -5");
    CommandResult r = run("diff " + file);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;
    EXPECT_NE(r.out.find("P01.06"), std::string::npos);
    EXPECT_NE(r.out.find("P03.01"), std::string::npos);

    r = run("--json diff --factory");
    EXPECT_EQ(r.status, 1);
    const json j = json::parse(r.out);
    ASSERT_EQ(j["differences"].size(), 2u);
    EXPECT_EQ(j["differences"][1]["number"], "P03.01");
    EXPECT_EQ(j["differences"][1]["drive"], "-5");
    EXPECT_EQ(j["differences"][1]["other"], "100");

    sim.ok("set param " + std::to_string(kSmoothing) + " 0");
    sim.ok("set param " + std::to_string(kInternalSpeed1) + " 100");
    r = run("diff --factory");
    EXPECT_EQ(r.status, 0) << r.out;
}

TEST_F(ServoctlDrive, EepromSaveAndFactoryResetNeedTheirConfirmation) {
    sim.ok("set param " + std::to_string(kSmoothing) + " 77");
    CommandResult r = run("eeprom-save");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sim.ok("get eeprom " + std::to_string(kSmoothing)), "77");

    sim.ok("log on");
    r = run("factory-reset");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--yes"), std::string::npos) << r.err;
    EXPECT_TRUE(frames().empty());
    EXPECT_EQ(param(kSmoothing), "77");

    r = run("factory-reset --yes");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(param(kSmoothing), "0");
    EXPECT_EQ(param(kRatedCurrent), "28");
}

TEST_F(ServoctlDrive, ScopeWritesTimeStampedSamplesWithNamedColumns) {
    const std::string csv = path("scope.csv");
    const CommandResult r = run("scope --quantities 0,2,6 --period 10 --duration 0.5 --csv " + csv);
    ASSERT_EQ(r.status, 0) << r.err;
    std::ifstream in(csv);
    std::string header;
    std::getline(in, header);
    EXPECT_EQ(header,
              "time (s),Motor speed (rpm),Torque command (0.1%),Following error (cmd unit)");
    std::string line;
    std::vector<double> times;
    while (std::getline(in, line)) {
        ASSERT_EQ(std::count(line.begin(), line.end(), ','), 3) << line;
        times.push_back(std::stod(line));
    }
    ASSERT_GE(times.size(), 10u);
    EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
    EXPECT_LT(times.back(), 0.6);
    EXPECT_GE(times.back(), 0.4);

    // A row that does not exist, or one register twice: refused before the port opens.
    sim.ok("log on");
    for (const char* rows : {"0,12", "1,1"}) {
        const CommandResult bad = run(std::string("scope --quantities ") + rows +
                                      " --period 10 --duration 1 --csv " + path("bad.csv"));
        EXPECT_EQ(bad.status, 2) << rows;
    }
    EXPECT_TRUE(frames().empty());
    EXPECT_FALSE(std::filesystem::exists(path("bad.csv")));
}

}  // namespace

namespace {

TEST_F(ServoctlDrive, ScanListsTheDrivesAndBackupAllSavesEachOneVerified) {
    testsupport::SimProcess other({"--no-pace", "--station", "3"});
    sim.ok("set param " + std::to_string(kMotorCode) + " 1111");
    other.ok("set param " + std::to_string(kMotorCode) + " 2222");
    other.ok("set param " + std::to_string(kInternalSpeed1) + " -5");
    const std::string plan = "--ports " + sim.ptyPath() + "," + other.ptyPath() +
                             " --bauds 115200 --parity N --stations 1-3";

    CommandResult r = run("--json scan " + plan, "--timeout 20");
    ASSERT_EQ(r.status, 0) << r.err;
    const json found = json::parse(r.out);
    ASSERT_EQ(found["drives"].size(), 2u) << r.out;
    EXPECT_EQ(found["drives"][0]["port"], sim.ptyPath());
    EXPECT_EQ(found["drives"][0]["station"], 1);
    EXPECT_EQ(found["drives"][0]["register0"], 1111);
    EXPECT_EQ(found["drives"][1]["port"], other.ptyPath());
    EXPECT_EQ(found["drives"][1]["station"], 3);
    EXPECT_EQ(found["drives"][1]["parity"], "N");

    std::filesystem::create_directory(dir.path() / "all");
    r = run("backup-all " + path("all") + " " + plan + " --defs " + SIM_DEFS, "--timeout 20");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lang = platform::readWholeFile(std::string(SIM_DEFS));
    ASSERT_TRUE(lang);
    const auto fileOf = [&](const std::string& pty, int station) {
        return (dir.path() / "all" /
                (std::filesystem::path(pty).filename().string() + "-st" + std::to_string(station) +
                 ".dat"))
            .string();
    };
    for (auto [drive, station] : {std::pair{&sim, 1}, std::pair{&other, 3}}) {
        data::LanguageData table = data::parseLanguageBytes(*lang);
        const std::string file = fileOf(drive->ptyPath(), station);
        ASSERT_EQ(data::loadValueFile(file, table.parameters().span()), 1) << file;
        // Every value in the file is the drive's own.
        for (int index : {kMotorCode, kPulsesPerRev, kSmoothing, kInternalSpeed1}) {
            const auto& p = table.parameters()[static_cast<std::size_t>(index)];
            EXPECT_EQ(platform::toUtf8(data::valueToText(p.typeCode, p.fileValue.load())),
                      drive->ok("get param " + std::to_string(index)))
                << file << " parameter " << index;
        }
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path() / "all"),
                            std::filesystem::directory_iterator{}),
              2);

    // Existing files are kept unless --force; the command says so and fails.
    r = run("backup-all " + path("all") + " " + plan + " --defs " + SIM_DEFS, "--timeout 20");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
}

}  // namespace
