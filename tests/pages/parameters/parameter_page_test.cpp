// The parameter page on the headless backend: the list and its detail, the
// block poll, writing one parameter, the bulk operations and the EEPROM save,
// against servo-sim as the drive; and the guards for tables that do not fit.
#include "pages/parameters/parameter_page.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "data/value_file.h"
#include "parameter_fixture.h"
#include "ui/headless.h"

namespace {

using namespace paramtest;
using pages::ParameterPage;

// A table of `count` writable parameters of one type from `first` on, gap
// free, with no texts at all (as records that no language entry filled).
void makeTable(Program& program, std::size_t count, std::uint16_t first,
               data::TypeCode type = data::TypeCode::Int16U) {
    data::ParameterTable table(count);
    std::uint32_t address = first;
    for (std::size_t i = 0; i < count; ++i) {
        table[i].access = data::kAccessWritable;
        table[i].typeCode = type;
        table[i].address = static_cast<std::uint16_t>(address);
        table[i].maximum = 60000;
        address += table[i].registerCount();
    }
    program.language.parameters() = std::move(table);
}

const std::u16string kUnknown = u"Unknown";  // UI 14 of the sample file

// --- List and detail, without a drive

TEST(ParameterPageView, ListLayoutAndDetailFollowTheSelection) {
    Rig rig(sampleLanguage());
    ParameterPage& page = rig.open();
    ui::Control& list = rig.list();

    ASSERT_EQ(list.columnCount(), 5);
    const std::u16string headers[] = {u"No.", u"Name", u"Drive value", u"File value", u"Unit"};
    const int widths[] = {60, 224, 90, 95, 60};
    for (int c = 0; c < 5; ++c) {
        EXPECT_EQ(list.column(c).header, headers[c]);
        EXPECT_EQ(list.column(c).width, widths[c]);
    }
    EXPECT_EQ(list.extendedStyle(), ui::list_style::kGridLines | ui::list_style::kFullRowSelect);
    ASSERT_EQ(list.rowCount(), 99);
    EXPECT_EQ(rig.cell(15, 0), u"P01.03");
    EXPECT_EQ(rig.cell(15, 1), u"Command pulses per revolution");
    EXPECT_EQ(rig.cell(15, 2), u"0");
    EXPECT_EQ(rig.cell(15, 3), u"");
    EXPECT_EQ(rig.cell(15, 4), u"pulse/rev");
    EXPECT_EQ(list.selectionMark(), 0);
    EXPECT_FALSE(list.isRowSelected(0));

    // Layout in the page rectangle (983 x 662), texts of the language file.
    EXPECT_EQ(page.windowRect(), rig.program.context.pageRect);
    const int w = 983, h = 662;
    EXPECT_EQ(page.control(ParameterPage::kGroup).rect(),
              ui::Rect::fromXywh(5, 10, w - 10, h - 30));
    EXPECT_EQ(page.control(ParameterPage::kFactoryButton).rect(),
              ui::Rect::fromXywh(465, 35, 130, 40));
    // The right pane is as wide as its bottom row's texts need ("Write to
    // EEPROM" is wider than the nominal 100 pixels); the list takes the rest.
    const ui::Rect detail = page.control(ParameterPage::kDetail).rect();
    EXPECT_EQ(detail.right, w - 15);
    EXPECT_EQ(detail.height(), h - 205);
    EXPECT_EQ(page.control(ParameterPage::kList).rect(),
              ui::Rect::fromXywh(15, 85, detail.left - 25, h - 115));
    const ui::Rect eeprom = page.control(ParameterPage::kEepromMode).rect();
    EXPECT_EQ(eeprom.right, w - 15);
    EXPECT_GT(eeprom.width(), 100);
    EXPECT_TRUE(page.textFits(ParameterPage::kEepromMode));
    EXPECT_LE(page.control(ParameterPage::kWriteButton).rect().right, eeprom.left);
    EXPECT_EQ(page.control(ParameterPage::kProgress).rect(),
              ui::Rect::fromXywh(5, h - 17, w - 10, 12));
    EXPECT_EQ(page.text(ParameterPage::kEepromButton), u"Save to EEPROM");
    EXPECT_EQ(page.text(ParameterPage::kWriteButton), u"Apply");
    EXPECT_TRUE(page.control(ParameterPage::kMemoryMode).isVisible());
    EXPECT_EQ(page.text(ParameterPage::kEepromMode), u"Write to EEPROM");
    EXPECT_EQ(page.radioGroupIndex(ParameterPage::kMemoryMode), 0);
    EXPECT_FALSE(page.control(ParameterPage::kModelCombo).isVisible());
    EXPECT_EQ(page.saveTimeoutMs(), 5000u);  // UI 104

    // Not connected: every drive value is unknown; nothing loaded, every
    // file value is empty.
    page.refreshView();
    EXPECT_EQ(rig.cell(0, 2), kUnknown);
    EXPECT_EQ(rig.cell(98, 2), kUnknown);
    EXPECT_EQ(rig.cell(0, 3), u"");
    EXPECT_EQ(rig.cell(3, 3), u"");
    EXPECT_EQ(page.lastShownRow(), 0);
    EXPECT_TRUE(list.isRowSelected(0));
    EXPECT_EQ(page.text(ParameterPage::kCurrentValue), kUnknown);
    EXPECT_EQ(page.text(ParameterPage::kNewValue), kUnknown);

    // The detail of an INT32S row: labels of the language file, the range
    // with the full-width tilde.
    const std::size_t offset = rig.program.indexOf(u"P01.12");
    rig.select(offset);
    EXPECT_EQ(page.text(ParameterPage::kDetail),
              u"Name: Home offset\r\nRange: -1073741824～1073741824\r\nUnit: cmd unit\r\n"
              u"Factory: 0\r\nTakes effect: Immediately\r\nModes: P\r\n"
              u"Details: Position value set when homing completes. 32-bit parameter.");
    EXPECT_EQ(list.lastEnsuredVisible(), static_cast<int>(offset));
    EXPECT_TRUE(page.control(ParameterPage::kNewValue).isEnabled());

    // Typed text survives later ticks on the same row; another row replaces it.
    ASSERT_TRUE(page.userType(ParameterPage::kNewValue, u"123"));
    page.refreshView();
    page.refreshView();
    EXPECT_EQ(page.text(ParameterPage::kNewValue), u"123");
    rig.select(3);  // P00.03, read-only
    EXPECT_EQ(page.text(ParameterPage::kNewValue), kUnknown);
    EXPECT_FALSE(page.control(ParameterPage::kNewValue).isEnabled());

    // Enter and Escape go to the focused control and never end the page.
    ASSERT_TRUE(page.userFocus(ParameterPage::kList));
    EXPECT_TRUE(page.userKey(ui::Key::Enter));
    EXPECT_TRUE(page.userKey(ui::Key::Escape));
    EXPECT_TRUE(page.exists());
    EXPECT_TRUE(rig.messages().empty());
}

TEST(ParameterPageView, NoLanguageFileGivesBuiltInTextsInTheChosenLanguage) {
    {
        Rig chinese;
        chinese.program.context.englishTexts = false;
        chinese.open();
        EXPECT_EQ(chinese.list().column(3).header, u"载入文件值");
        EXPECT_EQ(chinese.list().column(4).header, u"单位");
    }
    Rig rig;
    ParameterPage& page = rig.open();
    EXPECT_EQ(rig.list().column(3).header, u"File value");
    EXPECT_EQ(rig.list().column(4).header, u"Unit");
    EXPECT_EQ(page.text(ParameterPage::kEepromButton), u"固化驱动器参数");
    EXPECT_FALSE(page.control(ParameterPage::kMemoryMode).isVisible());
    EXPECT_FALSE(page.control(ParameterPage::kEepromMode).isVisible());
    EXPECT_EQ(page.saveTimeoutMs(), 3100u);
    EXPECT_EQ(rig.list().rowCount(), 0);
    page.refreshView();
    EXPECT_EQ(page.lastShownRow(), -1);
    EXPECT_EQ(page.text(ParameterPage::kDetail), u"");
    // No table: nothing is read (the link is not even enabled) and an EEPROM
    // save on a healthy link does nothing.
    EXPECT_EQ(page.readDriveValues(), 0);
    ASSERT_TRUE(rig.program.connectIdleLine().ok());
    page.saveToEeprom();
    EXPECT_FALSE(page.busy());
    EXPECT_TRUE(rig.messages().empty());
}

TEST(ParameterPageView, AParameterWithoutTextsShowsEmptyFields) {
    Rig rig;
    rig.program.context.englishTexts = false;
    makeTable(rig.program, 2, 0, data::TypeCode::Int16S);
    rig.program.language.parameters()[1].minimum = 0xFFFB;  // -5 in the low half
    ParameterPage& page = rig.open();
    EXPECT_EQ(rig.cell(1, 0), u"");
    EXPECT_EQ(rig.cell(1, 1), u"");
    rig.select(1);
    EXPECT_EQ(page.text(ParameterPage::kDetail),
              u"  参数名：\r\n参数范围：-5～-5536\r\n参数单位：\r\n  出厂值：0\r\n生效方式：\r\n"
              u"适用方式：\r\n参数说明：");
    EXPECT_EQ(page.text(ParameterPage::kCurrentValue), u"未知");
}

TEST(ParameterPageView, ADriveModelFillsTheFileValuesOnEveryTick) {
    Rig rig(sampleLanguage());
    rig.program.loadSampleModels();
    ParameterPage& page = rig.open();
    const data::ModelValueSets& models = rig.program.models;
    ui::Control& combo = page.control(ParameterPage::kModelCombo);
    EXPECT_TRUE(combo.isVisible());
    ASSERT_EQ(combo.itemCount(), 1 + static_cast<int>(models.count()));
    EXPECT_EQ(combo.itemText(0), u"Select drive model!");
    EXPECT_EQ(combo.itemText(2), models.wideName(1));
    EXPECT_EQ(combo.selection(), 0);

    page.refreshView();
    EXPECT_FALSE(page.fileLoaded());
    ASSERT_TRUE(page.userSelectItem(ParameterPage::kModelCombo, 2));
    page.refreshView();
    EXPECT_TRUE(page.fileLoaded());
    EXPECT_EQ(rig.cell(0, 3), platform::fromUtf8(std::to_string(models.value(1, 0))));
    EXPECT_EQ(rig.cell(3, 3), u"");  // read-only
    const std::size_t gear = rig.program.indexOf(u"P01.04");
    EXPECT_EQ(rig.cell(gear, 3), platform::fromUtf8(std::to_string(models.value(1, gear))));

    // The chosen model keeps overwriting the file values...
    rig.program.language.parameters()[0].fileValue.store(4321, kRelaxed);
    page.refreshView();
    EXPECT_EQ(rig.cell(0, 3), platform::fromUtf8(std::to_string(models.value(1, 0))));
    // ... and the prompt entry leaves the last ones in place.
    ASSERT_TRUE(page.userSelectItem(ParameterPage::kModelCombo, 0));
    rig.program.language.parameters()[0].fileValue.store(4321, kRelaxed);
    page.refreshView();
    EXPECT_EQ(rig.cell(0, 3), u"4321");
    EXPECT_EQ(page.sourceName(), models.wideName(1));
    EXPECT_EQ(page.text(ParameterPage::kGroup),
              u"Drive parameters - drive model: " + models.wideName(1));
    EXPECT_TRUE(rig.messages().empty());
}

TEST(ParameterPageView, ALoadedFileReplacesAChosenDriveModel) {
    TempDir dir;
    Rig rig(sampleLanguage());
    rig.program.loadSampleModels();
    std::vector<std::u16string> notes;
    rig.program.context.showNote = [&notes](std::u16string note) { notes.push_back(note); };
    ParameterPage& page = rig.open();
    data::ParameterTable& table = rig.program.language.parameters();
    for (auto& p : table) p.driveValue.store(p.factoryValue, kRelaxed);
    table[0].driveValue.store(2, kRelaxed);  // P00.00 differs from every model
    ASSERT_EQ(data::saveValueFile(dir.path() / "mine.dat", table), 1);

    ASSERT_TRUE(page.userSelectItem(ParameterPage::kModelCombo, 1));
    page.refreshView();
    const std::u16string path = platform::fromUtf8((dir.path() / "mine.dat").string());
    rig.backend.queueFileAnswer(path);
    page.loadFromFile();
    // The model choice returns to its prompt, so no tick overwrites the file.
    EXPECT_EQ(page.control(ParameterPage::kModelCombo).selection(), 0);
    page.refreshView();
    page.refreshView();
    EXPECT_EQ(rig.cell(0, 3), u"2");
    EXPECT_EQ(page.sourceName(), u"mine.dat");
    EXPECT_EQ(page.text(ParameterPage::kGroup), u"Drive parameters - file: mine.dat");
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0], u"Loaded " + path);
    EXPECT_TRUE(rig.messages().empty());
}

TEST(ParameterPageView, AModelOnALongerTableLeavesTheRestAndWarnsOnce) {
    Rig rig;
    makeTable(rig.program, 120, 0);
    std::string csv = "##M1,\r\n";
    for (int i = 0; i < 100; ++i)
        csv += "P" + std::to_string(i) + "," + std::to_string(i + 1) + "\r\n";
    const std::vector<std::uint8_t> bytes(csv.begin(), csv.end());
    rig.program.models = data::parseModelTable(bytes, 120);
    rig.program.context.modelTableLoaded = 1;
    for (std::size_t i = 0; i < 120; ++i)
        rig.program.language.parameters()[i].fileValue.store(7, kRelaxed);
    ParameterPage& page = rig.open();

    ASSERT_TRUE(page.userSelectItem(ParameterPage::kModelCombo, 1));
    page.refreshView();
    EXPECT_EQ(rig.cell(0, 3), u"1");
    EXPECT_EQ(rig.cell(99, 3), u"100");
    EXPECT_EQ(rig.cell(100, 3), u"7");
    EXPECT_EQ(rig.cell(119, 3), u"7");
    ASSERT_TRUE(page.userSelectItem(ParameterPage::kModelCombo, 0));
    ASSERT_TRUE(page.userSelectItem(ParameterPage::kModelCombo, 1));
    ASSERT_EQ(rig.messages().size(), 1u);
    EXPECT_EQ(rig.messages()[0].icon, Icon::Exclamation);
    EXPECT_NE(rig.messages()[0].text.find(u"first 100 parameters"), std::u16string::npos);
}

// --- Against the drive

class ParameterPageOnADrive : public ::testing::Test {
  protected:
    void SetUp() override { sim.exportAsCom(1); }
    testsupport::SimProcess sim{{"--no-pace", "--eeprom-ms", "100"}};
};

TEST_F(ParameterPageOnADrive, ThePollReadsBlocksOfTwelveAndTheListShowsTheValues) {
    Rig rig(sampleLanguage());
    ParameterPage& page = rig.open();
    rig.program.connect();
    const std::size_t speed = rig.program.indexOf(u"P03.01");   // INT16S, register 48
    const std::size_t smooth = rig.program.indexOf(u"P01.06");  // INT16U, register 21
    const std::size_t pulses = rig.program.indexOf(u"P01.04");  // INT32U, registers 17-18
    sim.ok("set reg 48 65531");
    sim.ok("set reg 21 65531");
    sim.ok("set reg 17 24064");  // 3000000000 = 0xB2D05E00
    sim.ok("set reg 18 45776");
    sim.ok("log on");
    rig.pollAndRefresh();

    // Registers 0 to 107: nine requests of 12 registers.
    const auto reads = requests(sim);
    ASSERT_EQ(reads.size(), 9u);
    EXPECT_EQ(reads[0].substr(0, 12), "01030000000C");
    EXPECT_EQ(reads[8].substr(0, 12), "01030060000C");
    EXPECT_EQ(rig.cell(speed, 2), u"-5");
    EXPECT_EQ(rig.cell(smooth, 2), u"65531");
    EXPECT_EQ(rig.cell(pulses, 2), u"-1294967296");
    for (std::size_t i : {std::size_t{0}, std::size_t{50}, std::size_t{98}}) {
        const data::ParameterDefinition& p = rig.program.language.parameters()[i];
        EXPECT_EQ(rig.cell(i, 2),
                  data::valueToText(p.typeCode, static_cast<std::uint32_t>(simParam(sim, i))))
            << i;
    }
    EXPECT_EQ(page.text(ParameterPage::kCurrentValue), rig.cell(0, 2));

    // A fault flagged on a connected link: the last values stay on view.
    rig.program.flagFault(modbus::kAccessNoResponse);
    page.refreshView();
    EXPECT_EQ(rig.cell(speed, 2), u"-5");
    // Disconnected: unknown.
    rig.program.session.disconnect();
    page.refreshView();
    EXPECT_EQ(rig.cell(speed, 2), kUnknown);
    EXPECT_EQ(page.text(ParameterPage::kCurrentValue), kUnknown);
}

TEST_F(ParameterPageOnADrive, AFailedBlockChangesNoValue) {
    Rig rig;
    // Registers 0 to 120: eleven blocks, the tenth (108..119) past the drive's
    // parameters, which a strict drive refuses.
    makeTable(rig.program, 121, 0);
    ParameterPage& page = rig.open();
    rig.program.connect();
    sim.ok("set reg 0 11");
    ASSERT_EQ(page.readDriveValues(), 0);
    EXPECT_EQ(rig.program.language.parameters()[0].driveValue.load(), 11u);

    sim.ok("set reg 0 22");
    sim.ok("strict on");
    sim.ok("log on");
    EXPECT_EQ(page.readDriveValues(), modbus::kAccessFailed);
    // Nine good blocks, then the tenth with its retries; nothing after it.
    const auto reads = requests(sim);
    ASSERT_EQ(reads.size(), 9u + 6u);
    for (std::size_t i = 9; i < reads.size(); ++i)
        EXPECT_EQ(reads[i].substr(0, 12), "0103006C000C");
    EXPECT_EQ(rig.program.language.parameters()[0].driveValue.load(), 11u);
}

TEST_F(ParameterPageOnADrive, ATableBeyondTheReadBufferIsReadAsFarAsItFits) {
    Rig rig;
    makeTable(rig.program, 300, 0);
    ParameterPage& page = rig.open();
    ASSERT_EQ(rig.messages().size(), 1u);
    EXPECT_NE(rig.messages()[0].text.find(u"only the first 252 of 300"), std::u16string::npos)
        << platform::toUtf8(rig.messages()[0].text);
    EXPECT_EQ(page.readableCount(), 252u);

    rig.program.connect();
    sim.ok("set reg 0 5");
    sim.ok("log on");
    rig.pollAndRefresh();
    const auto reads = requests(sim);
    ASSERT_EQ(reads.size(), 21u);
    EXPECT_EQ(reads[20].substr(0, 12), "010300F0000C");
    EXPECT_EQ(rig.cell(0, 2), u"5");
    EXPECT_EQ(rig.cell(251, 2), u"0");
    EXPECT_EQ(rig.cell(252, 2), u"Unknown");
    EXPECT_EQ(rig.cell(299, 2), u"Unknown");
    EXPECT_EQ(rig.messages().size(), 1u) << "warned once";
}

TEST_F(ParameterPageOnADrive, ATableAtTheTopOfTheRegisterSpaceReadsNothing) {
    Rig rig;
    makeTable(rig.program, 6, 65530);
    ParameterPage& page = rig.open();
    EXPECT_EQ(rig.messages().size(), 1u);
    EXPECT_EQ(page.readableCount(), 0u);
    rig.program.connect();
    sim.ok("log on");
    rig.pollAndRefresh();
    EXPECT_TRUE(requests(sim).empty());
    EXPECT_EQ(rig.cell(0, 2), u"Unknown");
}

TEST_F(ParameterPageOnADrive, WritingOneParameterRefusesEveryTextThatIsNotAValueInRange) {
    Rig rig(sampleLanguage());
    std::vector<std::u16string> notes;
    rig.program.context.showNote = [&notes](std::u16string note) { notes.push_back(note); };
    ParameterPage& page = rig.open();
    rig.program.connect();
    Program& p = rig.program;
    const std::size_t speed = p.indexOf(u"P03.01");     // INT16S -6000..6000 rpm, register 48
    const std::size_t resistor = p.indexOf(u"P00.07");  // INT16U 10..5000 W
    const std::size_t offset = p.indexOf(u"P01.12");    // INT32S +-1073741824, registers 27-28
    rig.pollAndRefresh();

    // Each of these was once clamped, wrapped or read as 0: now refused,
    // nothing on the wire, the message naming the range and unit.
    struct Case {
        std::size_t index;
        std::u16string text;
        std::u16string message;
    };
    const Case cases[] = {
        {speed, u"70000",
         u"P03.01: \"70000\" is outside the range.\r\nP03.01 takes -6000 to 6000 rpm."},
        {speed, u"7000",
         u"P03.01: \"7000\" is outside the range.\r\nP03.01 takes -6000 to 6000 rpm."},
        {resistor, u" -3", u"P00.07: \" -3\" is outside the range.\r\nP00.07 takes 10 to 5000 W."},
        {resistor, u"-5", u"P00.07: \"-5\" is outside the range.\r\nP00.07 takes 10 to 5000 W."},
        {resistor, u"abc", u"P00.07: \"abc\" is not a whole number.\r\nP00.07 takes 10 to 5000 W."},
        {resistor, u"1e3", u"P00.07: \"1e3\" is not a whole number.\r\nP00.07 takes 10 to 5000 W."},
        {resistor, u"40.5",
         u"P00.07: \"40.5\" is not a whole number.\r\nP00.07 takes 10 to 5000 W."},
        {resistor, u"9", u"P00.07: \"9\" is outside the range.\r\nP00.07 takes 10 to 5000 W."},
    };
    const long long speedBefore = simParam(sim, speed);
    const long long resistorBefore = simParam(sim, resistor);
    sim.ok("log on");
    for (const Case& c : cases) {
        rig.backend.clearMessages();
        rig.write(c.index, c.text);
        ASSERT_EQ(rig.messages().size(), 1u) << platform::toUtf8(c.text);
        EXPECT_MESSAGE(rig.messages()[0], c.message + u"\r\nNothing was written.", u"Error",
                       Icon::Exclamation);
        // The text stays for correcting, selected.
        EXPECT_EQ(page.text(ParameterPage::kNewValue), c.text);
        EXPECT_EQ(page.focus()->id(), ParameterPage::kNewValue);
    }
    EXPECT_TRUE(requests(sim).empty());
    EXPECT_EQ(simParam(sim, speed), speedBefore);
    EXPECT_EQ(simParam(sim, resistor), resistorBefore);
    EXPECT_TRUE(notes.empty());

    // In Chinese, the same refusal in Chinese.
    rig.backend.clearMessages();
    p.context.englishTexts = false;
    rig.write(resistor, u"abc");
    ASSERT_EQ(rig.messages().size(), 1u);
    EXPECT_MESSAGE(rig.messages()[0],
                   u"P00.07：\"abc\" 不是整数。\r\nP00.07 的范围是 10～5000 W。\r\n未写入任何值。",
                   u"错误", Icon::Exclamation);
    p.context.englishTexts = true;
    rig.backend.clearMessages();

    // Good texts: blanks and a plus sign allowed; Enter in the entry applies.
    rig.write(resistor, u" +40 ");
    EXPECT_EQ(simParam(sim, resistor), 40);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0], u"P00.07 = 40 written");
    rig.select(speed);
    ASSERT_TRUE(page.userType(ParameterPage::kNewValue, u"-6000"));
    ASSERT_TRUE(page.userFocus(ParameterPage::kNewValue));
    EXPECT_FALSE(page.userKey(ui::Key::Enter));
    rig.settle();
    EXPECT_EQ(simParam(sim, speed), -6000);
    EXPECT_EQ(notes.back(), u"P03.01 = -6000 written");

    sim.ok("log on");
    rig.write(offset, u"1073741824");
    const auto frames = requests(sim);
    ASSERT_EQ(frames.size(), 1u);
    // Function 16, two registers from 27, low word first: 0x40000000.
    EXPECT_EQ(frames[0].substr(0, 22), "0110001B00020400004000");
    EXPECT_EQ(simParam(sim, offset), 1073741824);

    // Nothing typed, the shown value, a read-only row: nothing sent, nothing said.
    sim.ok("log on");
    rig.write(resistor, u"");
    rig.pollAndRefresh();
    rig.write(resistor, rig.cell(resistor, 2));
    rig.select(3);
    EXPECT_FALSE(page.userType(ParameterPage::kNewValue, u"5"));
    ASSERT_TRUE(page.userClick(ParameterPage::kWriteButton));
    EXPECT_TRUE(withFunction(requests(sim), "06").empty());
    EXPECT_TRUE(withFunction(requests(sim), "10").empty());
    for (const auto& m : rig.messages()) ADD_FAILURE() << platform::toUtf8(m.text);

    // Not connected: the link message and no request.
    sim.ok("log on");
    p.flagFault(modbus::kAccessNoResponse);
    rig.write(speed, u"12");
    EXPECT_TRUE(requests(sim).empty());
    ASSERT_EQ(rig.messages().size(), 1u);
    EXPECT_MESSAGE(
        rig.messages()[0],
        u"Not connected or communication fault. Check the drive connection and try again!",
        u"Error", Icon::Error);
}

TEST_F(ParameterPageOnADrive, ARefusedWriteNamesTheCauseAndTheEntryFollowsTheDriveAgain) {
    Rig rig(sampleLanguage());
    std::vector<std::u16string> notes;
    rig.program.context.showNote = [&notes](std::u16string note) { notes.push_back(note); };
    ParameterPage& page = rig.open();
    rig.program.connect();
    const std::size_t resistor = rig.program.indexOf(u"P00.07");
    sim.ok("set param " + std::to_string(resistor) + " 100");
    rig.pollAndRefresh();
    rig.select(resistor);
    EXPECT_EQ(page.text(ParameterPage::kNewValue), u"100");

    sim.ok("exception 4");
    rig.write(resistor, u"40");
    sim.ok("faults off");
    EXPECT_EQ(simParam(sim, resistor), 100);
    ASSERT_EQ(rig.messages().size(), 1u);
    EXPECT_MESSAGE(rig.messages()[0],
                   u"P00.07 = 40 was not written: the drive refused the value: exception 04, "
                   u"slave device failure",
                   u"Error", Icon::Error);
    EXPECT_TRUE(notes.empty());
    // The typed 40 does not stay as if it had been written.
    EXPECT_EQ(page.text(ParameterPage::kNewValue), u"100");
    // In Chinese the cause is told in Chinese too.
    rig.program.context.englishTexts = false;
    sim.ok("exception 4");
    rig.write(resistor, u"40");
    sim.ok("faults off");
    rig.program.context.englishTexts = true;
    ASSERT_EQ(rig.messages().size(), 2u);
    EXPECT_EQ(rig.messages()[1].text,
              u"P00.07 = 40 未写入：驱动器拒绝请求：异常码 04（从站设备故障）");

    // Untouched, the entry follows the drive's value after a bulk change.
    sim.ok("set param " + std::to_string(resistor) + " 200");
    rig.pollAndRefresh();
    EXPECT_EQ(page.text(ParameterPage::kNewValue), u"200");
    // Typed text is left alone.
    ASSERT_TRUE(page.userType(ParameterPage::kNewValue, u"300"));
    sim.ok("set param " + std::to_string(resistor) + " 250");
    rig.pollAndRefresh();
    EXPECT_EQ(page.text(ParameterPage::kNewValue), u"300");
}

// A drive that answers some reads after the time-out: the late answer of one
// block must never be taken for the next block's. Every register reads as its
// own address, so another block's data cannot pass for this one's.
TEST(ParameterPageLateAnswers, AReadThatSucceedsHoldsEveryParametersOwnValue) {
    testsupport::SimProcess sim{{"--no-pace", "--pattern", "--seed", "7"}};
    sim.exportAsCom(1);
    Rig rig(sampleLanguage());
    ParameterPage& page = rig.open();
    rig.program.connect();
    const data::ParameterTable& table = rig.program.language.parameters();
    ASSERT_EQ(page.readDriveValues(), 0);
    std::vector<std::uint32_t> expected;
    for (std::size_t i = 0; i < table.size(); ++i)
        expected.push_back(table[i].driveValue.load(std::memory_order_relaxed));

    sim.ok("late 5 250");
    int good = 0;
    for (int round = 0; round < 30; ++round) {
        if (page.readDriveValues() != 0) continue;
        ++good;
        for (std::size_t i = 0; i < table.size(); ++i)
            ASSERT_EQ(table[i].driveValue.load(std::memory_order_relaxed), expected[i])
                << "round " << round << ", parameter " << i;
    }
    sim.ok("faults off");
    EXPECT_GT(good, 0);
    // The fault did strike: the master dropped late answers.
    EXPECT_GT(rig.program.master.discardedBytes(rig.program.session.snapshot().settings.channel),
              0u);
}

TEST_F(ParameterPageOnADrive, AWriteWhoseAnswerIsLostSaysTheDriveMayHaveAppliedIt) {
    Rig rig(sampleLanguage());
    rig.open();
    rig.program.connect();
    const std::size_t speed = rig.program.indexOf(u"P03.01");
    rig.pollAndRefresh();
    // The drive executes the write but every answer comes after the time-out.
    sim.ok("delay 300");
    rig.write(speed, u"123");
    sim.ok("faults off");
    EXPECT_EQ(simParam(sim, speed), 123);
    ASSERT_EQ(rig.messages().size(), 1u);
    EXPECT_MESSAGE(rig.messages()[0],
                   u"P03.01: time-out: the drive may have applied the write; read it back",
                   u"Error", Icon::Error);
}

TEST_F(ParameterPageOnADrive, TheEepromModeStoresTheParameterWithAShortTimeout) {
    Rig rig(sampleLanguage());
    ParameterPage& page = rig.open();
    rig.program.connect();
    const std::size_t speed = rig.program.indexOf(u"P03.01");
    rig.pollAndRefresh();
    ASSERT_TRUE(page.userClick(ParameterPage::kEepromMode));

    sim.ok("log on");
    rig.write(speed, u"250");
    auto frames = requests(sim);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].substr(0, 12), "0106003000FA");
    char store[16];
    std::snprintf(store, sizeof store, "0106FFFF%04X", static_cast<unsigned>(speed));
    EXPECT_EQ(frames[1].substr(0, 12), store);
    EXPECT_EQ(std::stoll(sim.ok("get eeprom " + std::to_string(speed))), 250);
    EXPECT_EQ(rig.program.timing(), std::make_pair(200, 5));

    // Nothing to write, but the store is still asked for.
    sim.ok("log on");
    rig.write(speed, u"");
    frames = requests(sim);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].substr(0, 12), store);
    EXPECT_TRUE(rig.messages().empty());

    // A drive that refuses the store: the message, and the timing restored.
    sim.ok("rejectwrite 2");
    rig.write(speed, u"300");
    EXPECT_EQ(simParam(sim, speed), 300);
    ASSERT_EQ(rig.messages().size(), 1u);
    EXPECT_MESSAGE(rig.messages()[0],
                   u"Saving the drive parameters to EEPROM failed!\r\nP03.01: the drive refused "
                   u"the value: exception 04, slave device failure",
                   u"Error", Icon::Error);
    EXPECT_EQ(rig.program.timing(), std::make_pair(200, 5));
}

TEST_F(ParameterPageOnADrive, BackupAndLoadFollowTheFileRules) {
    TempDir dir;
    Rig rig(sampleLanguage());
    ParameterPage& page = rig.open();

    // Backup refuses a link that is down before any dialog; load does not.
    page.backupToFile();
    EXPECT_TRUE(rig.backend.fileRequests().empty());
    ASSERT_EQ(rig.messages().size(), 1u);
    EXPECT_EQ(rig.messages()[0].icon, Icon::Error);

    rig.program.connect();
    rig.pollAndRefresh();
    fs::create_directories(dir.path() / "old.dat.d");
    const std::u16string base = platform::fromUtf8(dir.path().string());
    rig.backend.queueFileAnswer(base + u"/plain");
    rig.backend.queueFileAnswer(base + u"/UPPER.DAT");
    rig.backend.queueFileAnswer(base + u"/old.dat.d/inner");
    rig.backend.queueFileAnswer(std::nullopt);
    for (int i = 0; i < 4; ++i) {
        page.backupToFile();
        rig.settle();
    }
    EXPECT_TRUE(fs::exists(dir.path() / "plain.dat"));
    EXPECT_TRUE(fs::exists(dir.path() / "UPPER.DAT.dat"));
    EXPECT_TRUE(fs::exists(dir.path() / "old.dat.d/inner"));
    ASSERT_EQ(rig.backend.fileRequests().size(), 4u);
    const ui::FileDialogRequest& request = rig.backend.fileRequests()[0];
    EXPECT_TRUE(request.save);
    EXPECT_TRUE(request.confirmOverwrite);
    EXPECT_EQ(request.filter, u"(*.dat)|*.dat|*(*.*)|*.*||");
    EXPECT_EQ(rig.messages().size(), 1u);

    // A folder that does not exist: the path and the system's reason.
    rig.backend.queueFileAnswer(base + u"/missing/b.dat");
    page.backupToFile();
    rig.settle();
    ASSERT_EQ(rig.messages().size(), 2u);
    EXPECT_MESSAGE(rig.messages()[1],
                   u"Backing up the parameters failed!\r\nfile error: cannot write " + base +
                       u"/missing/b.dat: No such file or directory",
                   u"Error", Icon::None);

    // "plain" again: the dialog had nothing to ask about, so plain.dat, which
    // exists, is left alone; named in full it is replaced (after the dialog's
    // own question).
    // The drive's value changes and the poll reads it.
    const auto before = readBytes(dir.path() / "plain.dat");
    sim.ok("set param 0 4444");
    rig.pollAndRefresh();
    rig.backend.queueFileAnswer(base + u"/plain");
    page.backupToFile();
    rig.settle();
    ASSERT_EQ(rig.messages().size(), 3u);
    EXPECT_NE(rig.messages()[2].text.find(u"plain.dat already exists"), std::u16string::npos);
    EXPECT_EQ(readBytes(dir.path() / "plain.dat"), before);
    rig.backend.queueFileAnswer(base + u"/plain.dat");
    page.backupToFile();
    rig.settle();
    EXPECT_NE(readBytes(dir.path() / "plain.dat"), before);
    rig.backend.clearMessages();

    // Loading the backup while disconnected fills column 3.
    rig.program.session.disconnect();
    rig.backend.queueFileAnswer(base + u"/plain.dat");
    page.loadFromFile();
    EXPECT_TRUE(page.fileLoaded());
    page.refreshView();
    const std::size_t steps = rig.program.indexOf(u"P01.03");
    EXPECT_EQ(rig.cell(steps, 3), u"10000");
    EXPECT_FALSE(rig.backend.fileRequests().back().save);

    // Refused files name the path and the check; column 3 stays.
    data::ParameterTable two(2);
    data::saveValueFile(dir.path() / "two.dat", two);
    auto damaged = readBytes(dir.path() / "plain.dat");
    damaged[20] ^= 1;
    std::ofstream(dir.path() / "damaged.dat", std::ios::binary)
        .write(reinterpret_cast<const char*>(damaged.data()),
               static_cast<std::streamsize>(damaged.size()));
    // A value outside its range would be refused by the import: refused here.
    data::ParameterTable& table = rig.program.language.parameters();
    const std::size_t resistor = rig.program.indexOf(u"P00.07");
    std::vector<data::ParameterDefinition> copy(table.size());
    for (std::size_t i = 0; i < table.size(); ++i)
        copy[i].driveValue.store(table[i].fileValue.load());
    copy[resistor].driveValue.store(5001);
    data::saveValueFile(dir.path() / "range.dat", copy);
    const std::pair<std::u16string, std::u16string> refusals[] = {
        {u"/two.dat", u"It holds 2 parameters; this drive's table has 99."},
        {u"/damaged.dat", u"Its checksum does not match: the file is damaged."},
        {u"/range.dat", u"P00.07 = 5001 is outside the range. P00.07 takes 10 to 5000 W."},
        {u"/none.dat", u"It cannot be read: No such file or directory"},
    };
    for (const auto& [name, why] : refusals) {
        rig.backend.clearMessages();
        rig.backend.queueFileAnswer(base + name);
        page.loadFromFile();
        ASSERT_EQ(rig.messages().size(), 1u);
        EXPECT_MESSAGE(rig.messages()[0],
                       u"Loading the parameter file failed!\r\n" + base + name + u"\r\n" + why,
                       u"Error", Icon::None);
    }
    page.refreshView();
    EXPECT_EQ(rig.cell(steps, 3), u"10000");
    EXPECT_EQ(page.sourceName(), u"plain.dat");
}

TEST_F(ParameterPageOnADrive, ImportNeedsFileValuesAndChecksEveryRangeBeforeWriting) {
    Rig rig(sampleLanguage());
    ParameterPage& page = rig.open();
    rig.program.connect();
    data::ParameterTable& table = rig.program.language.parameters();

    page.importFileValues();
    ASSERT_EQ(rig.messages().size(), 1u);
    EXPECT_MESSAGE(rig.messages()[0], u"No file loaded yet, there is nothing to write!", u"Error",
                   Icon::Error);

    // A file whose values are the factory values plus one where the range
    // allows, then one of them put out of range.
    TempDir dir;
    for (auto& p : table) {
        const std::uint32_t up = p.factoryValue + 1;
        p.driveValue.store(
            data::checkRange(p.typeCode, up, p.minimum, p.maximum) == 0 ? up : p.factoryValue,
            kRelaxed);
    }
    ASSERT_EQ(data::saveValueFile(dir.path() / "file.dat", table), 1);
    rig.backend.queueFileAnswer(platform::fromUtf8((dir.path() / "file.dat").string()));
    page.loadFromFile();
    ASSERT_TRUE(page.fileLoaded());
    const std::size_t resistor = rig.program.indexOf(u"P00.07");  // 10..5000

    // Declined: nothing sent. The question states the source and the count.
    sim.ok("log on");
    rig.backend.queueAnswer(false);
    page.importFileValues();
    EXPECT_FALSE(page.busy());
    ASSERT_EQ(rig.questions().size(), 1u);
    EXPECT_EQ(rig.questions()[0].text,
              u"Write the values of file.dat to 94 parameters of the drive?");
    EXPECT_TRUE(requests(sim).empty());

    table[resistor].fileValue.store(9, kRelaxed);
    sim.ok("log on");
    page.importFileValues();
    EXPECT_TRUE(requests(sim).empty());
    EXPECT_EQ(rig.questions().size(), 1u) << "refused before asking";
    ASSERT_EQ(rig.messages().size(), 2u);
    EXPECT_MESSAGE(rig.messages()[1],
                   u"Writing the file values failed!\r\nP00.07 = 9 is outside the range. P00.07 "
                   u"takes 10 to 5000 W.\r\nNothing was written.",
                   u"Error", Icon::Error);
}

TEST_F(ParameterPageOnADrive, FactoryRestoreAsksFirstAndNamesWhatTheDriveRefused) {
    Rig rig(sampleLanguage());
    ParameterPage& page = rig.open();
    rig.program.connect(0);
    const std::size_t speed = rig.program.indexOf(u"P03.01");
    sim.ok("set param " + std::to_string(speed) + " 1234");

    // Declined: nothing sent.
    sim.ok("log on");
    rig.backend.queueAnswer(false);
    page.restoreFactoryValues();
    EXPECT_FALSE(page.busy());
    ASSERT_EQ(rig.questions().size(), 1u);
    EXPECT_EQ(rig.questions()[0].text,
              u"Write the factory values to 94 parameters of the drive? Their present values "
              u"are lost.");
    EXPECT_EQ(rig.questions()[0].caption, u"Factory defaults");
    EXPECT_TRUE(requests(sim).empty());
    EXPECT_EQ(simParam(sim, speed), 1234);

    // A text typed but not applied does not outlive the bulk write: the
    // entry follows the drive's new value.
    rig.pollAndRefresh();
    rig.select(speed);
    ASSERT_TRUE(page.userType(ParameterPage::kNewValue, u"555"));
    sim.ok("rejectwrite 3");
    rig.backend.queueAnswer(true);
    page.restoreFactoryValues();
    rig.settle();
    rig.pollAndRefresh();
    EXPECT_EQ(page.text(ParameterPage::kNewValue), u"100");
    ASSERT_EQ(rig.messages().size(), 1u);
    EXPECT_MESSAGE(rig.messages()[0],
                   u"Restoring the factory values failed!\r\nP00.02 = 0: the drive refused the "
                   u"value: exception 04, slave device failure\r\n93 written, 1 refused, 0 "
                   u"unconfirmed, 0 not reached.",
                   u"Error", Icon::Error);
    // The drive refused one value; the others were still written.
    const data::ParameterDefinition& p = rig.program.language.parameters()[speed];
    EXPECT_EQ(data::valueToText(p.typeCode, static_cast<std::uint32_t>(simParam(sim, speed))),
              data::valueToText(p.typeCode, p.factoryValue));
    EXPECT_EQ(rig.progress(), 100);
}

TEST_F(ParameterPageOnADrive, AFailedEepromSaveRestoresTheTiming) {
    Rig rig(sampleLanguage({{104, u"300"}}));
    ParameterPage& page = rig.open();
    rig.program.connect();
    // A drive that refuses the store-all command.
    sim.ok("log on");
    sim.ok("exception 4");
    page.saveToEeprom();
    rig.settle();
    sim.ok("faults off");
    const auto frames = requests(sim);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].substr(0, 12), "0106FFFFFFFF");
    ASSERT_EQ(rig.messages().size(), 1u);
    EXPECT_MESSAGE(rig.messages()[0],
                   u"Saving the drive parameters to EEPROM failed!\r\nthe drive refused the "
                   u"value: exception 04, slave device failure",
                   u"Error", Icon::Error);
    EXPECT_EQ(rig.program.timing(), std::make_pair(200, 5));
    // Refused while the link is faulty, before anything is sent.
    rig.program.flagFault(modbus::kAccessNoResponse);
    sim.ok("log on");
    page.saveToEeprom();
    EXPECT_TRUE(requests(sim).empty());
    ASSERT_EQ(rig.messages().size(), 2u);
    EXPECT_EQ(rig.messages()[1].caption, u"Error");
}

}  // namespace
