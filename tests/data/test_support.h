#pragma once
// Helpers shared by the data layer tests.
#include <gtest/gtest.h>
#include <unistd.h>
#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/wait.h>
#endif

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace datatest {

namespace fs = std::filesystem;

// UTF-16 little-endian bytes of a text, as a language file stores it.
inline std::vector<std::uint8_t> utf16le(std::u16string_view text) {
    std::vector<std::uint8_t> out;
    for (char16_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return out;
}

inline std::vector<std::uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

inline void writeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A fresh folder per test, removed afterwards.
class TempDirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() / ("servo-data-" + std::to_string(::getpid()) + "-" +
                                           info->test_suite_name() + "-" + info->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::size_t filesInDir() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
    }
    fs::path dir;
};

// Runs `write` in a child process whose file size limit is `limitBytes`
// (works as root too) and returns the child's result: the function's value
// (0 or 1), or -1 when the child did not end normally.
#if !defined(_WIN32)
inline int runWithFileSizeLimit(std::size_t limitBytes, const std::function<int()>& write) {
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{limitBytes, limitBytes};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(write());
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}
#else
// Windows has no file size limit per process: the Windows test run leaves out
// the cases that need one, and any other fails here.
inline int runWithFileSizeLimit(std::size_t, const std::function<int()>&) {
    ADD_FAILURE() << "a file size limit per process needs POSIX";
    return -1;
}
#endif

}  // namespace datatest
