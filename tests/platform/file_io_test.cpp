#include "platform/file_io.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>

namespace {

namespace fs = std::filesystem;

class FileIo : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("servo-fileio-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

TEST_F(FileIo, ReplaceWritesExactBytesAndLeavesNoTemporaryFile) {
    const fs::path file = dir / "a.bin";
    const std::vector<std::uint8_t> first{1, 2, 3, 4, 5};
    const std::vector<std::uint8_t> second{9, 8};
    ASSERT_TRUE(platform::replaceFile(file, first));
    ASSERT_TRUE(platform::replaceFile(file, second));
    EXPECT_EQ(platform::readWholeFile(file), second);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(FileIo, MissingFileAndMissingFolder) {
    EXPECT_FALSE(platform::readWholeFile(dir / "none").has_value());
    const std::vector<std::uint8_t> bytes{1};
    EXPECT_FALSE(platform::replaceFile(dir / "no" / "such" / "x", bytes));
    const fs::path empty = dir / "empty";
    std::ofstream(empty).close();
    EXPECT_EQ(platform::readWholeFile(empty), std::vector<std::uint8_t>{});
}

// A write that fails part-way (file size limit reached) must leave the old
// file exactly as it was. Runs in a child so the limit cannot leak.
TEST_F(FileIo, FailedWriteKeepsThePreviousFile) {
    const fs::path file = dir / "keep.bin";
    const std::vector<std::uint8_t> good{'g', 'o', 'o', 'd'};
    ASSERT_TRUE(platform::replaceFile(file, good));
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{64, 64};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const std::vector<std::uint8_t> big(4096, 0xAB);
        const platform::FileOutcome outcome = platform::writeFileReplacing(file, big);
        ::_exit(outcome.ok() ? 1 : outcome.reason == "File too large" ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "1: success reported past the size limit, 2: another reason";
    EXPECT_EQ(platform::readWholeFile(file), good);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

// A folder, a FIFO without a writer and a device are refused without
// blocking (the alarm ends a run that would wait on the FIFO); so is replacing
// any of them. The reasons read well after "cannot read <path>: ".
TEST_F(FileIo, OnlyRegularFilesAreReadOrReplaced) {
    const fs::path fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directory(dir / "folder");
    ::alarm(20);
    for (const fs::path& path : {dir / "folder", fifo, fs::path("/dev/null")}) {
        const platform::FileContent read = platform::readFile(path);
        EXPECT_EQ(read.outcome.status, platform::FileStatus::NotRegular) << path;
        EXPECT_EQ(platform::describeFileFailure("read", path, read.outcome),
                  "cannot read " + path.string() + ": not a regular file");
    }
    const std::vector<std::uint8_t> bytes{1, 2};
    for (const fs::path& path : {dir / "folder", fifo})
        EXPECT_EQ(platform::writeFileReplacing(path, bytes).status,
                  platform::FileStatus::NotRegular)
            << path;
    ::alarm(0);
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(fs::is_directory(dir / "folder"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);

    const platform::FileContent missing = platform::readFile(dir / "none");
    EXPECT_EQ(missing.outcome.status, platform::FileStatus::Missing);
    EXPECT_EQ(missing.outcome.reason, "No such file or directory");
    const platform::FileOutcome noFolder = platform::writeFileReplacing(dir / "no" / "x", bytes);
    EXPECT_FALSE(noFolder.ok());
    EXPECT_EQ(noFolder.reason, "No such file or directory");
}

}  // namespace
