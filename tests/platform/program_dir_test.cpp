#include "platform/program_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(SettingsDirectory, TheUsersOwnFolderFollowsXdgThenHome) {
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/x/config");
        ScopedEnv home("HOME", "/home/u");
        EXPECT_EQ(platform::userSettingsDirectory(), fs::path("/x/config/servo-tool"));
    }
    {
        // A relative XDG_CONFIG_HOME is invalid and ignored.
        ScopedEnv xdg("XDG_CONFIG_HOME", "relative");
        ScopedEnv home("HOME", "/home/u");
        EXPECT_EQ(platform::userSettingsDirectory(), fs::path("/home/u/.config/servo-tool"));
    }
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
        ScopedEnv home("HOME", nullptr);
        EXPECT_TRUE(platform::userSettingsDirectory().empty());
    }
}

TEST(SettingsDirectory, AWritableProgramFolderKeepsItsSettingsElseTheUsersFolder) {
    const fs::path dir =
        fs::temp_directory_path() / ("servo-progdir-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    ScopedEnv xdg("XDG_CONFIG_HOME", "/x/config");
    EXPECT_TRUE(platform::directoryWritable(dir));
    EXPECT_EQ(platform::settingsDirectory(dir), dir);

    EXPECT_FALSE(platform::directoryWritable(dir / "absent"));
    EXPECT_EQ(platform::settingsDirectory(dir / "absent"), fs::path("/x/config/servo-tool"));

    // A folder that the user may only read, as an install under /opt is: the
    // check runs in a child as an unprivileged user, since root may write
    // anywhere.
    ::chmod(dir.c_str(), 0555);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
        ::_exit(!platform::directoryWritable(dir) &&
                        platform::settingsDirectory(dir) == fs::path("/x/config/servo-tool")
                    ? 0
                    : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ::chmod(dir.c_str(), 0755);
    fs::remove_all(dir);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
