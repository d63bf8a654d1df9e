#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "data/language.h"
#include "data/settings_file.h"
#include "data/value_file.h"
#include "platform/file_io.h"
#include "platform/text.h"
#include "run_command.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing_support::CommandResult;

class Servoctl : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("servoctl-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    CommandResult run(const std::string& args) {
        return testing_support::runCommand(std::string(SERVOCTL_PATH) + " " + args,
                                           (dir / "stderr.txt").string());
    }
    std::string sample(const std::string& rel) { return std::string(SAMPLE_DIR) + "/" + rel; }

    void writeBytes(const fs::path& p, const std::vector<std::uint8_t>& b) {
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }
    // A language file image (UTF-16LE with BOM) from UTF-8 text.
    void writeLanguage(const fs::path& p, const std::string& utf8) {
        std::u16string w = u"\uFEFF" + platform::fromUtf8(utf8);
        std::vector<std::uint8_t> b;
        for (char16_t c : w) {
            b.push_back(static_cast<std::uint8_t>(c & 0xFF));
            b.push_back(static_cast<std::uint8_t>(c >> 8));
        }
        writeBytes(p, b);
    }

    fs::path dir;
};

TEST_F(Servoctl, SampleFamilyLoadsWithoutWarningsInBothLanguages) {
    json tables[2];
    int k = 0;
    for (const char* f : {"Language/DefineEn.cfg", "Language/Define.cfg"}) {
        const CommandResult r = run("defs " + sample(f) + " --json");
        ASSERT_EQ(r.status, 0) << r.err;
        const json j = json::parse(r.out);
        EXPECT_TRUE(j["warnings"].empty()) << f << ": " << j["warnings"].dump();
        EXPECT_EQ(j["uiTexts"].size(), 150u);
        EXPECT_GE(j["parameters"].size(), 60u);
        EXPECT_GE(j["statusItems"].size(), 12u);
        EXPECT_GE(j["scopeQuantities"].size(), 8u);
        EXPECT_GE(j["alarms"].size(), 20u);
        tables[k++] = j;
    }
    // The two files describe the same drive: same registers, types and ranges.
    ASSERT_EQ(tables[0]["parameters"].size(), tables[1]["parameters"].size());
    for (std::size_t i = 0; i < tables[0]["parameters"].size(); ++i) {
        for (const char* key :
             {"access", "typeCode", "address", "minimum", "maximum", "factoryValue"}) {
            EXPECT_EQ(tables[0]["parameters"][i][key], tables[1]["parameters"][i][key]) << i << key;
        }
    }
    EXPECT_EQ(tables[0]["statusItems"].size(), tables[1]["statusItems"].size());
    EXPECT_EQ(tables[0]["scopeQuantities"].size(), tables[1]["scopeQuantities"].size());
}

TEST_F(Servoctl, DefsJsonGivesTypedNumbersNullForAbsentAndMacroValues) {
    const fs::path f = dir / "t.cfg";
    writeLanguage(f,
                  "[<0>]\r\n#[]#[Status]#[Params]\r\n#END\r\n"
                  "[<1>]\r\n#IMM=[at once]\r\n#END\r\n"
                  "[<2>]\r\n"
                  "#[RW][INT32S][4096][P01.02][Speed][All][-5000][5000][0][rpm][%imm%][desc]\r\n"
                  "#[R][INT16U][4098][P01.03][Max][][0][65535][65535][][%none%][]\r\n"
                  "#END\r\n");
    const CommandResult r = run("defs " + f.string() + " --json");
    ASSERT_EQ(r.status, 0) << r.err;
    const json j = json::parse(r.out);
    EXPECT_TRUE(j["uiTexts"][0].is_null());
    EXPECT_EQ(j["uiTexts"][2], "Params");
    const json& p0 = j["parameters"][0];
    EXPECT_EQ(p0["typeCode"], "INT32S");
    EXPECT_EQ(p0["access"], 0x40);
    EXPECT_EQ(p0["address"], 4096);
    EXPECT_EQ(p0["minimum"], -5000);
    EXPECT_EQ(p0["effectMode"], "at once");
    const json& p1 = j["parameters"][1];
    EXPECT_EQ(p1["maximum"], 65535);  // unsigned, not -1
    EXPECT_EQ(p1["applicableMode"], "");
    EXPECT_EQ(p1["effectMode"], "");  // undefined macro
    bool sawMacroWarning = false;
    for (const auto& w : j["warnings"]) sawMacroWarning |= w["kind"] == "undefined-macro";
    EXPECT_TRUE(sawMacroWarning) << j["warnings"].dump();
}

TEST_F(Servoctl, RefusedFilesExitOneWithOneLineNamingTheFile) {
    const std::string missing = (dir / "missing.cfg").string();
    for (const std::string cmd : {"defs", "dat", "ini"}) {
        const CommandResult r = run(cmd + " " + missing);
        EXPECT_EQ(r.status, 1) << cmd;
        EXPECT_NE(r.err.find(missing), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    writeBytes(dir / "empty.cfg", {});
    EXPECT_EQ(run("defs " + (dir / "empty.cfg").string()).status, 1);
}

// A folder or a FIFO in a file's place: refused at once, naming the file.
TEST_F(Servoctl, OnlyRegularFilesAreRead) {
    fs::create_directory(dir / "folder");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    for (const std::string name : {"folder", "fifo"}) {
        const std::string path = (dir / name).string();
        // The language file of "dat --defs" is read before the value file.
        for (const std::string& args : {"defs " + path, "dat " + path, "ini " + path,
                                       "dat " + (dir / "none.dat").string() + " --defs " + path}) {
            const CommandResult r =
                testing_support::runCommand("timeout 20 " + std::string(SERVOCTL_PATH) + " " + args,
                                            (dir / "stderr.txt").string());
            EXPECT_EQ(r.status, 1) << args << ": " << r.err;
            EXPECT_NE(r.err.find("cannot read " + path + ": not a regular file"), std::string::npos)
                << r.err;
        }
    }
}

// "valid" only for a UTF-16LE file with a parameter table and every section
// whole; the other encodings, random bytes and a cut copy exit 1 and say why.
TEST_F(Servoctl, DefsExitsOneForFilesTheProgramCannotUse) {
    std::ifstream in(sample("Language/DefineEn.cfg"), std::ios::binary);
    const std::vector<std::uint8_t> le((std::istreambuf_iterator<char>(in)), {});
    ASSERT_GT(le.size(), 1000u);
    std::u16string text;
    for (std::size_t i = 0; i + 1 < le.size(); i += 2)
        text += static_cast<char16_t>(le[i] | (le[i + 1] << 8));
    const std::string utf8 = platform::toUtf8(text);
    std::vector<std::uint8_t> be = le;
    for (std::size_t i = 0; i + 1 < be.size(); i += 2) std::swap(be[i], be[i + 1]);
    std::vector<std::uint8_t> noise(4096);
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 13);
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
        const char* says;
    } cases[] = {
        {"utf8.cfg", {utf8.begin(), utf8.end()}, "UTF-8 text"},
        {"be.cfg", be, "UTF-16 big-endian"},
        {"noise.cfg", noise, "no section found"},
        {"half.cfg", {le.begin(), le.begin() + static_cast<long>(le.size() / 2)}, "has no #END"},
    };
    for (const auto& c : cases) {
        writeBytes(dir / c.name, c.bytes);
        const CommandResult r = run("defs " + (dir / c.name).string());
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.name << ": " << r.err;
    }
    writeLanguage(dir / "texts.cfg", "[<0>]#[Servo]#END");
    const CommandResult texts = run("defs " + (dir / "texts.cfg").string() + " --json");
    EXPECT_EQ(texts.status, 1);
    EXPECT_EQ(json::parse(texts.out)["valid"], false);
    EXPECT_NE(texts.err.find("no parameter table"), std::string::npos) << texts.err;
    EXPECT_EQ(run("defs " + sample("Language/DefineEn.cfg")).status, 0);
}

TEST_F(Servoctl, ValueFileChecksInOrderAndTypedByTheTable) {
    data::LanguageData lang = data::parseLanguageText(
        u"[<2>]#[RW][INT16S][0][P0][A][][-10][10][0][][][]"
        u"#[RW][INT32U][1][P1][B][][0][100000][0][][][]#END");
    ASSERT_EQ(lang.parameters().size(), 2u);
    lang.parameters()[0].driveValue = 0xFFFF;  // -1 as INT16S
    lang.parameters()[1].driveValue = 70000;
    const fs::path dat = dir / "b.dat";
    ASSERT_EQ(data::saveValueFile(dat, lang.parameters().span()), 1);
    const fs::path defs = dir / "d.cfg";
    writeLanguage(defs,
                  "[<2>]#[RW][INT16S][0][P0][A][][-10][10][0][][][]"
                  "#[RW][INT32U][1][P1][B][][0][100000][0][][][]#END");

    CommandResult r = run("dat " + dat.string() + " --defs " + defs.string() + " --json");
    ASSERT_EQ(r.status, 0) << r.err;
    json j = json::parse(r.out);
    EXPECT_TRUE(j["valid"].get<bool>());
    EXPECT_EQ(j["values"][0]["value"], -1);
    EXPECT_EQ(j["values"][1]["value"], 70000);
    EXPECT_EQ(j["values"][1]["numberText"], "P1");

    // One changed byte: the checksum decides first.
    auto bytes = *platform::readWholeFile(dat);
    bytes[9] ^= 0x01;
    writeBytes(dir / "bad.dat", bytes);
    r = run("dat " + (dir / "bad.dat").string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("checksum"), std::string::npos) << r.err;

    // A good file for a table of another length is refused by the count.
    const fs::path one = dir / "one.cfg";
    writeLanguage(one, "[<2>]#[RW][INT16S][0][P0][A][][-10][10][0][][][]#END");
    r = run("dat " + dat.string() + " --defs " + one.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("count 2"), std::string::npos) << r.err;
}

TEST_F(Servoctl, SettingsFileIsPrintedAndCheckedForLength) {
    data::LanguageData lang = data::parseLanguageText(
        u"[<4>]#[INT16S][8192][Speed][-3000][3000][]#[INT32S][8193][Pos][-1e6][1e6][]#END");
    ASSERT_EQ(lang.scopeQuantities().size(), 2u);
    const fs::path ini = dir / "system.ini";
    ASSERT_EQ(data::saveSettingsFile(ini, 7, lang.scopeQuantities().span()), 1);
    CommandResult r = run("ini " + ini.string() + " --json");
    ASSERT_EQ(r.status, 0) << r.err;
    const json j = json::parse(r.out);
    EXPECT_EQ(j["settingsWord"], 7);
    EXPECT_EQ(j["count"], 2);
    EXPECT_EQ(j["ranges"][1]["minimum"], -1e6);

    auto bytes = *platform::readWholeFile(ini);
    bytes.push_back(0);
    writeBytes(dir / "long.ini", bytes);
    r = run("ini " + (dir / "long.ini").string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("long.ini"), std::string::npos);
}

TEST_F(Servoctl, UsageErrorsExitTwo) {
    EXPECT_EQ(run("").status, 2);
    EXPECT_EQ(run("frobnicate").status, 2);
    EXPECT_EQ(run("defs").status, 2);
    EXPECT_EQ(run("read-regs 0 4").status, 2);  // no --port
    EXPECT_EQ(run("--port COM1 read-regs 0").status, 2);
    EXPECT_EQ(run("--port COM1 write-coils 0 2").status, 2);
    EXPECT_EQ(run("--port COM1 --station 300 probe").status, 2);
}

TEST_F(Servoctl, PortThatCannotBeOpenedNamesTheDevice) {
    const std::string dev = (dir / "no-such-tty").string();
    const CommandResult r = run("--port " + dev + " probe");
    EXPECT_EQ(r.status, 7);
    EXPECT_NE(r.err.find(dev), std::string::npos) << r.err;
}

}  // namespace

namespace {

TEST_F(Servoctl, PortsListsTheAdaptersOfATreeWithTheirComNames) {
    // One FTDI adapter as udev and sysfs show it.
    const fs::path usb = dir / "sys/devices/usb1/1-2";
    fs::create_directories(usb / "1-2:1.0/ttyUSB0/tty/ttyUSB0");
    std::ofstream(usb / "idVendor") << "0403\n";
    std::ofstream(usb / "idProduct") << "6001\n";
    std::ofstream(usb / "product") << "FT232R USB UART\n";
    fs::create_symlink("../..", usb / "1-2:1.0/ttyUSB0/tty/ttyUSB0/device");
    fs::create_directories(dir / "sys/class/tty");
    fs::create_symlink("../../devices/usb1/1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0",
                       dir / "sys/class/tty/ttyUSB0");
    fs::create_directories(dir / "dev/serial/by-id");
    std::ofstream(dir / "dev/ttyUSB0").put('\n');
    fs::create_symlink("../../ttyUSB0", dir / "dev/serial/by-id/usb-FTDI-A1");

    const CommandResult r = run("ports --json --root " + dir.string());
    ASSERT_EQ(r.status, 0) << r.err;
    const json list = json::parse(r.out);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["device"], "/dev/ttyUSB0");
    EXPECT_EQ(list[0]["stable_name"], "/dev/serial/by-id/usb-FTDI-A1");
    EXPECT_EQ(list[0]["description"], "FT232R USB UART (0403:6001)");

    const CommandResult text = run("ports --root " + dir.string());
    EXPECT_EQ(text.out,
              "/dev/ttyUSB0  FT232R USB UART (0403:6001)  /dev/serial/by-id/usb-FTDI-A1\n");

    const CommandResult none = run("ports --json --root " + (dir / "empty").string());
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(json::parse(none.out).size(), 0u);
}

}  // namespace
