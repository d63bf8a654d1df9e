// The Win32 platform seams that need no serial line: program directory, text
// in the ANSI code page, file replacement, socket layer start, and serial port
// refusals. Run under Wine once per ANSI code page (SERVO_EXPECT_ACP).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <gtest/gtest.h>
#include <windows.h>
#include <winsock2.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/program_dir.h"
#include "platform/serial.h"
#include "platform/socket_layer.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

fs::path executablePath() {
    wchar_t buffer[32768];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(std::size(buffer)));
    return fs::path(std::wstring(buffer, n));
}

class TempDir : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("servo-win32-" + std::to_string(GetCurrentProcessId()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::error_code ec;
        for (const auto& entry : fs::recursive_directory_iterator(dir, ec))
            SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
        fs::remove_all(dir, ec);
    }
    std::size_t filesInDir() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
    }
    fs::path dir;
};

// --- program directory

TEST(ProgramDirectory, IsTheExecutablesFolderWhateverTheCurrentDirectory) {
    const fs::path exeDir = executablePath().parent_path();
    EXPECT_EQ(platform::programDirectory(), exeDir);
    // The build copies the shipped files beside the executables.
    const fs::path defs = platform::programFile("Language/DefineEn.cfg");
    EXPECT_EQ(defs, exeDir / L"Language" / L"DefineEn.cfg");
    EXPECT_EQ(defs.native().find(L'/'), std::wstring::npos) << "separators are made native";

    const fs::path before = fs::current_path();
    fs::current_path(fs::temp_directory_path());
    EXPECT_EQ(platform::programDirectory(), exeDir);
    EXPECT_TRUE(fs::exists(platform::programFile("Language/DefineEn.cfg")));
    EXPECT_TRUE(fs::exists(platform::programFile("version/Servo.csv")));
    fs::current_path(before);
}

// --- text

TEST(Text, Utf8ConversionsDoNotDependOnTheCodePage) {
    const std::u16string wide = u"伺服管理软件 P00.01 \U0001F600";
    const std::string utf8 = platform::toUtf8(wide);
    EXPECT_EQ(utf8,
              "\xE4\xBC\xBA\xE6\x9C\x8D\xE7\xAE\xA1\xE7\x90\x86\xE8\xBD\xAF\xE4\xBB\xB6"
              " P00.01 \xF0\x9F\x98\x80");
    EXPECT_TRUE(platform::isValidUtf8(utf8));
    EXPECT_EQ(platform::fromUtf8(utf8), wide);
    EXPECT_EQ(platform::fromUtf8("a\xFF"), u"a\uFFFD");
}

// Narrow text is the ANSI code page's. The run says which page it set up, so
// that a locale that Wine did not take fails here instead of testing nothing.
TEST(Text, NarrowTextIsTheAnsiCodePage) {
    const char* expected = std::getenv("SERVO_EXPECT_ACP");
    ASSERT_NE(expected, nullptr) << "the test run sets SERVO_EXPECT_ACP";
    const UINT acp = GetACP();
    ASSERT_EQ(std::to_string(acp), expected);

    EXPECT_EQ(platform::narrowToWide(""), u"");
    EXPECT_EQ(platform::wideToNarrow(u""), "");
    EXPECT_EQ(platform::narrowToWide("P01.07 Kp=12"), u"P01.07 Kp=12");
    EXPECT_EQ(platform::wideToNarrow(u"P01.07 Kp=12"), "P01.07 Kp=12");

    if (acp == 936) {
        // "驱动" in GBK, as Servo.csv is written on a Chinese system.
        const std::string gbk("\xC7\xFD\xB6\xAF", 4);
        EXPECT_EQ(platform::narrowToWide(gbk), u"驱动");
        EXPECT_EQ(platform::wideToNarrow(u"驱动"), gbk);
        EXPECT_EQ(platform::narrowToWide("\xCB\xC5\xB7\xFE"), u"伺服");
    } else {
        ASSERT_EQ(acp, 1252u);
        EXPECT_EQ(platform::narrowToWide("\xE9\x80"), u"é€");
        EXPECT_EQ(platform::wideToNarrow(u"é€"), "\xE9\x80");
        // Characters the page lacks become its default character.
        EXPECT_EQ(platform::wideToNarrow(u"驱动"), "??");
    }
    // An unpaired surrogate never comes through as a broken sequence.
    const std::string lone = platform::wideToNarrow(std::u16string(1, char16_t(0xD800)));
    EXPECT_EQ(lone, "?");
}

// --- file replacement

TEST_F(TempDir, ReplaceWritesExactBytesAndLeavesNoTemporaryFile) {
    const fs::path file = dir / "backup.dat";
    std::vector<std::uint8_t> all(256);
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<std::uint8_t>(i);
    ASSERT_TRUE(platform::replaceFile(file, all));
    EXPECT_EQ(platform::readWholeFile(file), all);
    const std::vector<std::uint8_t> shorter{'\r', '\n', 0x1A, 0};
    ASSERT_TRUE(platform::replaceFile(file, shorter));
    EXPECT_EQ(platform::readWholeFile(file), shorter) << "binary, no text-mode translation";
    ASSERT_TRUE(platform::replaceFile(file, {}));
    EXPECT_EQ(platform::readWholeFile(file), std::vector<std::uint8_t>{});
    EXPECT_EQ(filesInDir(), 1u);
}

TEST_F(TempDir, ReplaceFailuresKeepThePreviousFileAndLeaveNothingBehind) {
    const std::vector<std::uint8_t> bytes{1, 2, 3};
    EXPECT_FALSE(platform::replaceFile(dir / "no" / "such" / "system.ini", bytes));
    EXPECT_EQ(filesInDir(), 0u);

    // A folder where the file should be cannot be replaced by it.
    fs::create_directory(dir / "system.ini");
    EXPECT_FALSE(platform::replaceFile(dir / "system.ini", bytes));
    EXPECT_TRUE(fs::is_directory(dir / "system.ini"));
    EXPECT_EQ(filesInDir(), 1u) << "no temporary file is left behind";
}

// The temporary file of a save has a fresh name: a file called <name>.tmp,
// which the save once used and overwrote, survives.
TEST_F(TempDir, ReplacingNeverTakesOverAnExistingFile) {
    const std::vector<std::uint8_t> other{'k', 'e', 'e', 'p'};
    ASSERT_TRUE(platform::replaceFile(dir / "system.ini.tmp", other));
    const std::vector<std::uint8_t> bytes{1, 2, 3};
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(platform::replaceFile(dir / "system.ini", bytes));
    EXPECT_EQ(platform::readWholeFile(dir / "system.ini"), bytes);
    EXPECT_EQ(platform::readWholeFile(dir / "system.ini.tmp"), other);
    EXPECT_EQ(filesInDir(), 2u) << "no temporary file is left behind";
}

// A folder or a device in a file's place is refused, with the reason that
// messages show; a failed open gives the system's words.
TEST_F(TempDir, OnlyRegularFilesAreRead) {
    fs::create_directory(dir / "Define.cfg");
    for (const fs::path& path : {dir / "Define.cfg", fs::path(L"NUL")}) {
        const platform::FileContent read = platform::readFile(path);
        EXPECT_EQ(read.outcome.status, platform::FileStatus::NotRegular) << path;
        EXPECT_EQ(read.outcome.reason, "not a regular file");
    }
    EXPECT_EQ(platform::writeFileReplacing(dir / "Define.cfg", std::vector<std::uint8_t>{1}).status,
              platform::FileStatus::NotRegular);
    const platform::FileContent missing = platform::readFile(dir / "none.cfg");
    EXPECT_EQ(missing.outcome.status, platform::FileStatus::Missing);
    EXPECT_FALSE(missing.outcome.reason.empty());
    EXPECT_EQ(missing.outcome.reason.find('\n'), std::string::npos);
}

TEST_F(TempDir, NonAsciiNamesAndMissingFiles) {
    const fs::path file = dir / L"参数备份.dat";
    const std::vector<std::uint8_t> bytes{0xC7, 0xFD};
    ASSERT_TRUE(platform::replaceFile(file, bytes));
    EXPECT_EQ(platform::readWholeFile(file), bytes);
    EXPECT_FALSE(platform::readWholeFile(dir / "none.dat").has_value());
}

// --- socket layer

TEST(SocketLayer, StartsInVersionOneOneAndUndoesAnyOtherVersion) {
    // Nothing started yet: sockets are refused.
    EXPECT_EQ(socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);

    // Asked for 3.0, the layer starts in its highest version, 2.2: not the
    // one asked for, so undone.
    EXPECT_FALSE(platform::startSocketLayerVersion(3, 0));
    EXPECT_EQ(socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    // Version 0.0 does not exist: the start itself fails.
    EXPECT_FALSE(platform::startSocketLayerVersion(0, 0));
    EXPECT_EQ(socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);

    ASSERT_TRUE(platform::startSocketLayer());
    const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_NE(s, INVALID_SOCKET);
    if (s != INVALID_SOCKET) closesocket(s);
    platform::stopSocketLayer();
    EXPECT_EQ(socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
}

// --- serial port refusals (a live line is tested against servo-sim)

TEST(SerialPortWin32, DefaultDevicesAreWin32DeviceNames) {
    EXPECT_EQ(platform::defaultComDevicePath(1), "\\\\.\\COM1");
    EXPECT_EQ(platform::defaultComDevicePath(12), "\\\\.\\COM12");
}

TEST(SerialPortWin32, MissingPortIsRefusedAtOnceAndTheClosedPortDoesNothing) {
    platform::SerialPort port;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.open("\\\\.\\COM99"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.devicePath(), "\\\\.\\COM99");
    EXPECT_EQ(port.lastError().rfind("cannot open \\\\.\\COM99: no such port", 0), 0u)
        << port.lastError();

    EXPECT_FALSE(port.configure({}));
    EXPECT_FALSE(port.setTimeouts({}));
    EXPECT_FALSE(port.purge());
    EXPECT_EQ(port.bytesWaiting(), 0u);
    std::uint8_t buffer[4] = {};
    EXPECT_EQ(port.read(buffer, sizeof buffer), 0u);
    EXPECT_FALSE(port.write(buffer, sizeof buffer));
    // Waiting on a closed port takes the time and reports silence.
    const std::uint64_t t0 = platform::monotonicMicros();
    EXPECT_FALSE(port.waitReadable(30'000));
    EXPECT_GE(platform::monotonicMicros() - t0, 25'000u);
    port.close();  // harmless when closed
}

class SerialFile : public TempDir {};

TEST_F(SerialFile, AFileIsNotASerialDeviceAndIsNotKeptBusy) {
    const fs::path file = dir / "not-a-port";
    std::ofstream(file) << "x";
    platform::SerialPort port;
    EXPECT_FALSE(port.open(file.string()));
    EXPECT_FALSE(port.isOpen());
    EXPECT_NE(port.lastError().find("not a serial device"), std::string::npos) << port.lastError();
    // The refusal released everything: the same answer again, not "in use",
    // and the file is not held open.
    EXPECT_FALSE(port.open(file.string()));
    EXPECT_NE(port.lastError().find("not a serial device"), std::string::npos) << port.lastError();
    EXPECT_TRUE(fs::remove(file));
}

}  // namespace
