// Every data file reader refuses a folder or a FIFO given in a file's place,
// without blocking, and leaves its tables as they were.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "data/language.h"
#include "data/model_sets.h"
#include "data/settings_file.h"
#include "data/value_file.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

class FileKinds : public datatest::TempDirTest {
  protected:
    // The places of non-regular files that this system can make.
    std::vector<fs::path> oddFiles() {
        std::vector<fs::path> out{dir / "folder"};
        fs::create_directory(out.back());
#if !defined(_WIN32)
        out.push_back(dir / "fifo");
        if (::mkfifo(out.back().c_str(), 0600) != 0) ADD_FAILURE() << "mkfifo";
#endif
        return out;
    }
};

TEST_F(FileKinds, EveryReaderRefusesFoldersAndFifos) {
#if !defined(_WIN32)
    ::alarm(20);  // a reader that waits on the FIFO ends the run here
#endif
    for (const fs::path& path : oddFiles()) {
        data::LanguageData language = data::parseLanguageText(
            u"[<2>]#[RW][INT16S][1][P][N][A][0][9][0][u][][]#END[<4>]#[INT16S][1][Q][-4][4][]#END");
        EXPECT_EQ(data::loadLanguage(path, language).file.status, platform::FileStatus::NotRegular)
            << path;
        ASSERT_EQ(language.parameters().size(), 1u);

        std::uint32_t word = 5;
        const data::SettingsAtStart settings =
            data::readSettingsFile(path, word, language.scopeQuantities().span());
        EXPECT_EQ(settings.file.status, platform::FileStatus::NotRegular) << path;
        EXPECT_EQ(word, 5u);
        EXPECT_EQ(language.scopeQuantities()[0].maximum, 4.0);

        data::ModelValueSets models;
        platform::FileOutcome modelFile;
        EXPECT_EQ(data::loadModelTable(path, 1, models, nullptr, &modelFile), 0);
        EXPECT_EQ(modelFile.status, platform::FileStatus::NotRegular) << path;

        EXPECT_EQ(data::loadValueFile(path, language.parameters().span()), 0) << path;
        EXPECT_EQ(data::saveValueFile(path, language.parameters().span()), 0) << path;
    }
#if !defined(_WIN32)
    ::alarm(0);
    EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
#endif
    EXPECT_TRUE(fs::is_directory(dir / "folder"));
}

}  // namespace
