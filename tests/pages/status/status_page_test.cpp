// The status page on the headless backend: the connection against servo-sim
// on a pseudo-terminal, the poll, the value texts, the alarm text and the I/O.
#include "pages/status/status_page.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "data/language.h"
#include "drive/link_health.h"
#include "modbus/drive_access.h"
#include "modbus/master.h"
#include "modbus/transaction_log.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "support/program_rig.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"
#include "ui/headless.h"
#include "ui/layout.h"

namespace {

using pages::StatusPage;

// A language file text with UI entries (others absent), status items (each
// "[type][address][name][divisor][unit]") and alarms ("[code][content][cause]").
std::u16string languageText(const std::vector<std::pair<int, std::u16string>>& ui,
                            const std::vector<std::u16string>& items,
                            const std::vector<std::u16string>& alarms) {
    std::u16string text;
    if (!ui.empty()) {
        int top = 0;
        for (const auto& entry : ui) top = std::max(top, entry.first);
        text += u"[<0>]\r\n";
        for (int i = 0; i <= top; ++i) {
            std::u16string value;
            for (const auto& entry : ui)
                if (entry.first == i) value = entry.second;
            text += u"#" + platform::fromUtf8(std::to_string(i)) + u"[" + value + u"]\r\n";
        }
        text += u"#END\r\n";
    }
    const auto section = [&text](const char16_t* header, const std::vector<std::u16string>& rows) {
        if (rows.empty()) return;
        text += header;
        for (const auto& row : rows) text += u"#" + row + u"\r\n";
        text += u"#END\r\n";
    };
    section(u"[<3>]\r\n", items);
    section(u"[<5>]\r\n", alarms);
    return text;
}

// A request as the simulator logged it.
struct Request {
    int station = 0;
    int function = 0;
    int address = 0;
    int quantity = 0;
};

// The requests logged since "log on", in order.
std::vector<Request> loggedRequests(testsupport::SimProcess& sim) {
    std::istringstream in(sim.ok("log dump"));
    std::size_t count = 0;
    in >> count;
    std::vector<Request> requests;
    for (std::string hex; in >> hex;) {
        const auto field = [&hex](std::size_t at, std::size_t digits) {
            return hex.size() >= at + digits ? std::stoi(hex.substr(at, digits), nullptr, 16) : -1;
        };
        requests.push_back({field(0, 2), field(2, 2), field(4, 4), field(8, 4)});
    }
    if (requests.size() != count) requests.clear();
    return requests;
}

class StatusPageTest : public ::testing::Test {
  protected:
    ui::HeadlessBackend backend;
    testsupport::ProgramRig program;
    modbus::ModbusMaster& master = program.master;
    modbus::DriveAccess& drive = program.access;
    drive::DriveSession& session = program.session;
    data::LanguageData& language = program.language;
    app::AppContext& context = program.context;
    std::unique_ptr<StatusPage> page;

    void open(data::LanguageData tables = {}) {
        language = std::move(tables);
        context.pageRect = {0, 0, 969, 641};
        page = std::make_unique<StatusPage>(context);
        ASSERT_TRUE(page->createModeless());
    }
    void open(std::u16string_view text) { open(data::parseLanguageText(text)); }
    void openSample() {
        data::LanguageData sample;
        ASSERT_EQ(data::loadLanguageFile(
                      std::filesystem::path(SERVO_DIST_DIR) / "Language" / "Define.cfg", sample),
                  1);
        open(std::move(sample));
    }
    void TearDown() override {
        if (page && session.connected()) page->toggleConnection();
        page.reset();
        master.setObserver(nullptr);
    }

    // The master records into a log whose health the page shows, as the
    // main window arranges it.
    std::unique_ptr<modbus::TransactionLog> log;
    std::unique_ptr<drive::LinkHealth> health;
    void recordTransactions() {
        log = std::make_unique<modbus::TransactionLog>();
        health = std::make_unique<drive::LinkHealth>(*log);
        master.setObserver(log.get());
        context.transactions = log.get();
        context.linkHealth = health.get();
    }
    // A tick of the main window's timer: the health first, then the page.
    void tick() {
        health->update(platform::monotonicMicros());
        page->refreshStatus();
    }

    // Picks COMn and connects at 115200 bit/s to station 1.
    // Then probes as the poll loop does, so that the link is healthy.
    void connect(int com) {
        ASSERT_TRUE(page->userClick(StatusPage::kFirstPortButton + com - 1));
        ASSERT_TRUE(page->userClick(StatusPage::kConnectButton));
        ASSERT_TRUE(session.connected()) << "messages: " << backend.messages().size();
        ASSERT_TRUE(session.probe().ok());
    }
    // A poll as the poll loop makes it: its result becomes the fault code.
    std::uint8_t poll() {
        const std::uint64_t generation = session.generation();
        const std::uint8_t code = page->pollStatus();
        session.noteFault(generation, code);
        return code;
    }
    std::u16string value(int row) const {
        return page->control(StatusPage::kStatusList).cellText(row, 1);
    }
    void expectAllValues(std::u16string_view text) const {
        const ui::Control& list = page->control(StatusPage::kStatusList);
        ASSERT_GT(list.rowCount(), 0);
        for (int row = 0; row < list.rowCount(); ++row)
            EXPECT_EQ(list.cellText(row, 1), text) << "row " << row;
    }
    // Runs the posted work until the page's output write has ended.
    void settle() {
        ASSERT_TRUE(testsupport::pumpUntil(backend, [this] { return !page->busy(); }));
    }
    std::vector<int> choices() const {
        std::vector<int> ids{StatusPage::kStationList};
        for (int i = 0; i < StatusPage::kPortCount; ++i) {
            ids.push_back(StatusPage::kFirstBaudButton + i);
            ids.push_back(StatusPage::kFirstPortButton + i);
        }
        return ids;
    }
};

TEST_F(StatusPageTest, ConnectOpensTheChosenPortForTheChosenStationAndDisconnectUndoesIt) {
    testsupport::SimProcess sim({"--no-pace", "--station", "12"});
    sim.exportAsCom(4);
    openSample();
    ASSERT_TRUE(page->userClick(1081));           // COM4
    ASSERT_TRUE(page->userClick(1073));           // 38400 bit/s
    ASSERT_TRUE(page->userSelectItem(1037, 11));  // station 12
    sim.ok("log on");
    ASSERT_TRUE(page->userClick(StatusPage::kConnectButton));

    EXPECT_TRUE(backend.messages().empty());
    const drive::LinkSnapshot link = session.snapshot();
    EXPECT_TRUE(link.connected);
    EXPECT_EQ(link.settings.channel, 3);
    EXPECT_EQ(link.settings.station, 12);
    EXPECT_EQ(link.settings.baudRate, 38400u);
    EXPECT_EQ(link.settings.parity, 0);
    EXPECT_EQ(link.faultCode, 3);
    EXPECT_EQ(link.settings.timing.responseTimeoutMs, 200);
    EXPECT_EQ(link.settings.timing.retries, 5);
    EXPECT_EQ(master.portDevice(3), sim.ptyPath());
    EXPECT_EQ(master.channel(3).responseTimeoutMs.load(), 200);
    EXPECT_EQ(master.channel(3).retries.load(), 5);
    EXPECT_EQ(master.channel(3).interCharGapMicros.load(), 16000u) << "opened at 38400 bit/s";
    const modbus::DriveLink selected = drive.currentLink();
    EXPECT_EQ(selected.channel, 3);
    EXPECT_EQ(selected.station, 12);
    EXPECT_EQ(selected.frameType, modbus::kFrameRtu);
    EXPECT_TRUE(selected.enabled);
    EXPECT_EQ(page->text(StatusPage::kConnectButton), u"断开");
    for (int id : choices()) EXPECT_FALSE(page->control(id).isEnabled()) << id;
    EXPECT_FALSE(page->userClick(1070));
    EXPECT_FALSE(page->userSelectItem(1037, 0));

    EXPECT_EQ(page->pollStatus(), 0);
    const auto requests = loggedRequests(sim);
    ASSERT_FALSE(requests.empty());
    for (const auto& r : requests) EXPECT_EQ(r.station, 12);

    ASSERT_TRUE(page->userClick(StatusPage::kConnectButton));
    EXPECT_FALSE(session.connected());
    EXPECT_FALSE(session.snapshot().connected);
    EXPECT_EQ(session.faultCode(), 0);
    std::uint8_t scratch[4] = {};
    EXPECT_EQ(drive.readRegisters(0, scratch, 2), modbus::kAccessNoLink);
    EXPECT_EQ(page->text(StatusPage::kConnectButton), u"连接");
    for (int id : choices()) EXPECT_TRUE(page->control(id).isEnabled()) << id;
}

TEST_F(StatusPageTest, PortThatCannotBeOpenedSaysWhyInTheChosenLanguage) {
    ::setenv("SERVO_COM6", "/nonexistent/servo-status-test", 1);
    open();
    ASSERT_TRUE(page->userClick(1083));
    ASSERT_TRUE(page->userClick(StatusPage::kConnectButton));
    ASSERT_EQ(backend.messages().size(), 1u);
    EXPECT_EQ(backend.messages()[0].text,
              u"Initialize the serial port failed!\nCOM6: cannot open "
              u"/nonexistent/servo-status-test: No such file or directory");
    EXPECT_EQ(backend.messages()[0].caption, u"Error");
    EXPECT_EQ(backend.messages()[0].icon, ui::MessageIcon::Error);
    context.englishTexts = false;
    ASSERT_TRUE(page->userClick(StatusPage::kConnectButton));
    ::unsetenv("SERVO_COM6");
    ASSERT_EQ(backend.messages().size(), 2u);
    EXPECT_TRUE(backend.messages()[1].text.starts_with(u"串口初始化失败！\nCOM6: 无法打开串口："));
    EXPECT_EQ(backend.messages()[1].caption, u"错误");
    EXPECT_FALSE(session.connected());
    EXPECT_FALSE(drive.currentLink().enabled);
    EXPECT_EQ(page->text(StatusPage::kConnectButton), u"连接");
    for (int id : choices()) EXPECT_TRUE(page->control(id).isEnabled()) << id;
}

TEST_F(StatusPageTest, ValuesShowByTypeAndDivisorWhileConnectedAndUnknownOtherwise) {
    testsupport::SimProcess sim({"--no-pace"});
    sim.exportAsCom(1);
    open(languageText({},
                      {u"[INT16S][1][a][10.0][]", u"[INT16U][2][b][][]", u"[INT16S][3][c][][]",
                       u"[INT32U][4][d][][]", u"[INT16U][6][e][10.0][]", u"[INT32S][7][f][100.0][]",
                       u"[INT16S][9][g][0.0][]", u"[INT16U][10][DI][][bits]"},
                      {}));
    const std::pair<int, int> regs[] = {{1, 0xFFFB}, {2, 0xFFFF}, {3, 0xFFFF}, {4, 0xFFFF},
                                        {5, 0xFFFF}, {6, 40000},  {7, 0x86A0}, {8, 1},
                                        {9, 0xFFFF}, {10, 267}};
    for (const auto& [reg, v] : regs)
        sim.ok("set reg " + std::to_string(reg) + " " + std::to_string(v));
    connect(1);
    ASSERT_EQ(poll(), 0);
    page->refreshStatus();
    EXPECT_EQ(value(0), u"-0.500");
    EXPECT_EQ(value(1), u"65535");
    EXPECT_EQ(value(2), u"-1");
    EXPECT_EQ(value(3), u"-1");
    // Divided values keep their type's range; a zero divisor shows the value.
    EXPECT_EQ(value(4), u"4000.000");
    EXPECT_EQ(value(5), u"1000.000");
    EXPECT_EQ(value(6), u"-1");
    // A word of terminal states shows bit by bit as well, bit 15 first.
    EXPECT_EQ(value(7), u"267  0000 0001 0000 1011");
    EXPECT_EQ(StatusPage::withBits(u"-1", 0xFFFFFFFF, 32),
              u"-1  1111 1111 1111 1111 1111 1111 1111 1111");
    page->toggleConnection();
    expectAllValues(u"未知");
}

TEST_F(StatusPageTest, PollReadsTheStatusBlockInPiecesOfTwelveRegisters) {
    testsupport::SimProcess sim({"--no-pace"});
    sim.exportAsCom(2);
    // Out of register order, and a 32-bit item last: the block still runs
    // from register 100 to the high word at 131.
    open(languageText(
        {}, {u"[INT16S][130][a][][]", u"[INT16U][100][b][][]", u"[INT32S][130][c][][]"}, {}));
    connect(2);
    sim.ok("set reg 100 7");
    sim.ok("set reg 130 22136");  // 0x5678
    sim.ok("set reg 131 4660");   // 0x1234
    sim.ok("set input 3 1");
    sim.ok("set coil 5 1");
    sim.ok("log on");
    ASSERT_EQ(page->pollStatus(), 0);

    const auto requests = loggedRequests(sim);
    ASSERT_EQ(requests.size(), 5u);
    const int expected[][3] = {{3, 100, 12}, {3, 112, 12}, {3, 124, 8}, {2, 0, 10}, {1, 0, 8}};
    for (std::size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].function, expected[i][0]) << i;
        EXPECT_EQ(requests[i].address, expected[i][1]) << i;
        EXPECT_EQ(requests[i].quantity, expected[i][2]) << i;
    }
    EXPECT_EQ(language.statusItems()[0].value.load(), 0x5678u);
    EXPECT_EQ(language.statusItems()[1].value.load(), 7u);
    EXPECT_EQ(language.statusItems()[2].value.load(), 0x12345678u);
    EXPECT_EQ(page->inputState(3), 1);
    EXPECT_EQ(page->outputState(5), 1);
    // Fewer than nine items: no alarm value.
    EXPECT_EQ(page->lastAlarm(), -1);

    // A drive that stops answering leaves everything as it was.
    sim.ok("set reg 100 8");
    sim.ok("noanswer on");
    EXPECT_EQ(page->pollStatus(), modbus::kAccessNoResponse);
    EXPECT_EQ(language.statusItems()[1].value.load(), 7u);
    EXPECT_EQ(page->inputState(3), 1);
}

TEST_F(StatusPageTest, AlarmTextFollowsTheAlarmValueAndCopesWithValuesOutsideTheTable) {
    testsupport::SimProcess sim({"--no-pace"});
    sim.exportAsCom(1);
    std::vector<std::u16string> items;
    for (int i = 0; i < 9; ++i)
        items.push_back(u"[INT16U][" + platform::fromUtf8(std::to_string(200 + i)) + u"][x][][]");
    open(languageText({{130, u"Content: "}}, items,
                      {u"[0][无报警][正常]", u"[11][过电流][短路]", u"[23][过电压][再生]"}));
    const auto alarmText = [this] { return page->text(StatusPage::kAlarmText); };
    EXPECT_EQ(alarmText(), u" 报警代码：0\r\nContent: 无报警\r\n 报警原因：正常\r\n");

    connect(1);
    sim.ok("set reg 208 2");
    ASSERT_EQ(poll(), 0);
    EXPECT_EQ(page->lastAlarm(), 2);
    // The poll thread leaves the text to the next refresh; the code shown is
    // the entry's own.
    EXPECT_EQ(alarmText(), u"");
    page->refreshStatus();
    EXPECT_TRUE(alarmText().starts_with(u" 报警代码：23\r\nContent: 过电压\r\n 报警原因：再生\r\n"))
        << platform::toUtf8(alarmText());

    sim.ok("set reg 208 3");
    ASSERT_EQ(poll(), 0);
    page->refreshStatus();
    EXPECT_TRUE(alarmText().starts_with(u" 报警代码：3\r\nContent: 未知\r\n 报警原因：\r\n"));
}

TEST_F(StatusPageTest, OutputBoxesWriteCoilsAfterTheFirstWriteIsConfirmed) {
    testsupport::SimProcess sim({"--no-pace"});
    sim.exportAsCom(1);
    open(languageText({{45, u"Brake"}}, {u"[INT16U][4096][a][][]"}, {}));
    connect(1);
    ASSERT_EQ(poll(), 0);
    page->refreshStatus();
    EXPECT_TRUE(page->control(1093).isVisible());
    EXPECT_TRUE(page->control(1012).isVisible());
    sim.ok("log on");

    // Declined: nothing reaches the drive and the box goes back.
    backend.queueAnswer(false);
    ASSERT_TRUE(page->userClick(1093));  // Y1, named by UI 45
    ASSERT_EQ(backend.messages().size(), 1u);
    EXPECT_TRUE(backend.messages()[0].question);
    EXPECT_TRUE(backend.messages()[0].text.starts_with(u"Switch output Brake ON on the drive now?"))
        << platform::toUtf8(backend.messages()[0].text);
    EXPECT_FALSE(page->busy());
    EXPECT_EQ(page->check(1093), 0);
    EXPECT_TRUE(loggedRequests(sim).empty());

    // Agreed: the coil is written (function 5), and later writes do not ask.
    backend.queueAnswer(true);
    ASSERT_TRUE(page->userClick(1093));
    settle();
    EXPECT_EQ(sim.ok("get coil 1"), "1");
    EXPECT_EQ(page->check(1093), 1);
    ASSERT_TRUE(page->userClick(1101));  // Y7
    settle();
    EXPECT_EQ(backend.messages().size(), 2u);
    EXPECT_EQ(sim.ok("get coil 7"), "1");
    const auto requests = loggedRequests(sim);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].function, 5);
    EXPECT_EQ(requests[0].address, 1);
    EXPECT_EQ(requests[1].function, 5);
    EXPECT_EQ(requests[1].address, 7);

    // A refused write names its cause and the box shows the drive's state.
    sim.ok("exception 4");
    ASSERT_TRUE(page->userClick(1101));
    settle();
    ASSERT_EQ(backend.messages().size(), 3u);
    EXPECT_EQ(backend.messages()[2].text,
              u"Writing output Y7 failed: the drive refused the value: exception 04, slave "
              u"device failure");
    EXPECT_EQ(page->check(1101), 1);
    sim.ok("faults off");

    // The boxes follow the states read; a click on an input changes nothing.
    sim.ok("set coil 1 0");
    sim.ok("set input 9 1");
    ASSERT_EQ(poll(), 0);
    page->refreshStatus();
    EXPECT_EQ(page->check(1093), 0);
    EXPECT_EQ(page->check(1021), 1);  // X9
    ASSERT_TRUE(page->userClick(1021));
    EXPECT_EQ(page->check(1021), 1);

    // A new connection asks again.
    page->toggleConnection();
    connect(1);
    ASSERT_EQ(poll(), 0);
    page->refreshStatus();
    ASSERT_TRUE(page->userClick(1093));
    EXPECT_EQ(backend.messages().size(), 4u);
    EXPECT_TRUE(backend.messages()[3].question);
    EXPECT_EQ(sim.ok("get coil 1"), "0");
}

TEST_F(StatusPageTest, ValuesReadBeforeAFaultAreMarkedAndANewConnectionShowsNoneOfThem) {
    testsupport::SimProcess sim({"--no-pace"});
    sim.exportAsCom(1);
    std::vector<std::u16string> items;
    for (int i = 0; i < 9; ++i)
        items.push_back(u"[INT16U][" + platform::fromUtf8(std::to_string(300 + i)) + u"][x][][]");
    open(languageText({}, items, {u"[0][none][-]", u"[11][overcurrent][short]"}));
    sim.ok("set reg 300 42");
    sim.ok("set reg 308 1");
    sim.ok("set input 2 1");
    connect(1);
    ASSERT_EQ(poll(), 0);
    page->refreshStatus();
    EXPECT_EQ(value(0), u"42");
    EXPECT_EQ(page->check(1014), 1);
    EXPECT_TRUE(page->control(1014).isEnabled());
    EXPECT_EQ(page->statusAlarm(), u"Alarm 11: overcurrent");

    // A drive that refuses every request (as fast as a silent one is slow):
    // the values stay, marked, and the I/O is greyed.
    sim.ok("exception 4");
    session.noteFault(session.generation(), 0);
    ASSERT_NE(poll(), 0);
    page->refreshStatus();
    EXPECT_EQ(value(0), u"42 (stale)");
    EXPECT_EQ(page->check(1014), 1);
    EXPECT_FALSE(page->control(1014).isEnabled());
    EXPECT_FALSE(page->control(1092).isEnabled());
    EXPECT_NE(page->text(StatusPage::kAlarmText).find(u"(stale: read before"),
              std::u16string::npos);
    EXPECT_EQ(page->statusAlarm(), u"") << "the status line shows the fault instead";
    // In Chinese the mark is Chinese.
    context.englishTexts = false;
    page->refreshStatus();
    EXPECT_EQ(value(0), u"42（旧值）");
    context.englishTexts = true;

    // The drive answers again: nothing is live before a new poll.
    sim.ok("faults off");
    ASSERT_TRUE(session.probe().ok());
    page->refreshStatus();
    EXPECT_EQ(value(0), u"42 (stale)");
    ASSERT_EQ(poll(), 0);
    page->refreshStatus();
    EXPECT_EQ(value(0), u"42");

    // A new connection to a drive that gives no good answer shows nothing
    // of the old one.
    page->toggleConnection();
    sim.ok("exception 4");
    ASSERT_TRUE(page->userClick(StatusPage::kConnectButton));
    ASSERT_TRUE(session.connected());
    expectAllValues(u"");
    EXPECT_EQ(page->check(1014), 0);
    EXPECT_FALSE(page->control(1014).isEnabled());
    const std::u16string alarm = page->text(StatusPage::kAlarmText);
    EXPECT_FALSE(alarm.starts_with(u" 报警代码")) << platform::toUtf8(alarm);
    ASSERT_NE(poll(), 0);
    page->refreshStatus();
    expectAllValues(u"");
}

TEST_F(StatusPageTest, AlarmHistoryKeepsEveryChangeWithTimeCodeAndText) {
    testsupport::SimProcess sim({"--no-pace"});
    sim.exportAsCom(1);
    std::vector<std::u16string> items;
    for (int i = 0; i < 9; ++i)
        items.push_back(u"[INT16U][" + platform::fromUtf8(std::to_string(200 + i)) + u"][x][][]");
    open(
        languageText({}, items, {u"[0][无报警][-]", u"[11][过电流][短路]", u"[23][过电压][再生]"}));
    connect(1);
    for (int alarm : {1, 1, 2, 0}) {
        sim.ok("set reg 208 " + std::to_string(alarm));
        ASSERT_EQ(poll(), 0);
        page->refreshStatus();
        if (alarm == 2) {
            EXPECT_EQ(page->statusAlarm(), u"Alarm 23: 过电压");
        }
    }
    EXPECT_EQ(page->statusAlarm(), u"") << "alarm 0 is no alarm";
    // The watch of another page reads the alarm alone and feeds the history too.
    sim.ok("set reg 208 1");
    sim.ok("log on");
    ASSERT_EQ(page->watch(), 0);
    const auto requests = loggedRequests(sim);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].address, 208);
    EXPECT_EQ(requests[0].quantity, 1);
    EXPECT_EQ(page->statusAlarm(), u"Alarm 11: 过电流");

    const auto& history = page->alarmHistory();
    ASSERT_EQ(history.size(), 4u);
    const std::pair<int, std::u16string> expected[] = {
        {11, u"过电流"}, {23, u"过电压"}, {0, u"无报警"}, {11, u"过电流"}};
    for (std::size_t i = 0; i < history.size(); ++i) {
        EXPECT_EQ(history[i].code, expected[i].first) << i;
        EXPECT_EQ(history[i].text, expected[i].second) << i;
        ASSERT_EQ(history[i].time.size(), 8u);
        EXPECT_EQ(history[i].time[2], u':');
    }
    // Shown under the current alarm, newest first.
    page->refreshStatus();
    const std::u16string text = page->text(StatusPage::kAlarmText);
    const auto newest = text.find(history[3].time + u"  11  过电流");
    const auto oldest = text.rfind(history[0].time + u"  11  过电流");
    ASSERT_NE(newest, std::u16string::npos) << platform::toUtf8(text);
    EXPECT_LT(text.find(u"Alarm history:"), newest);
    EXPECT_LT(newest, text.find(u"  23  过电压"));
    EXPECT_LT(text.find(u"  23  过电压"), oldest);
}

TEST_F(StatusPageTest, InfoTextNamesTheDeviceOfEachPort) {
    ::setenv("SERVO_COM3", "/dev/ttyUSB0", 1);
    open();
    const std::u16string all = page->text(StatusPage::kInfoText);
    EXPECT_NE(all.find(u"COM3: /dev/ttyUSB0"), std::u16string::npos);
    EXPECT_NE(all.find(u"COM6: "), std::u16string::npos);
    page.reset();

    // With UI 15 the text follows it, and names the selected port's device.
    open(languageText({{15, u"Factory setting: 115200 bps"}}, {}, {}));
    ASSERT_TRUE(page->userClick(1080));
    ::unsetenv("SERVO_COM3");
    EXPECT_EQ(page->text(StatusPage::kInfoText),
              u"Factory setting: 115200 bps\n\nCOM3: /dev/ttyUSB0");
}

TEST_F(StatusPageTest, PageFollowsThePageRectangleAndTakesItsTextsFromTheLanguageFile) {
    open(languageText({{4, u"Link"}, {8, u"Connect"}, {11, u"Name"}, {18, u"DI1"}, {44, u"DO1"}},
                      {u"[INT16S][1][Speed][][rpm]", u"[INT16S][2][Torque][][%]"}, {}));
    EXPECT_EQ(page->text(1084), u"Link");
    EXPECT_EQ(page->text(1076), u"波特率选择");  // absent: the resource text
    EXPECT_EQ(page->text(StatusPage::kConnectButton), u"Connect");
    EXPECT_EQ(page->text(1092), u"DO1");
    const ui::Control& list = page->control(StatusPage::kStatusList);
    ASSERT_EQ(list.columnCount(), 3);
    EXPECT_EQ(list.column(0).header, u"Name");
    EXPECT_EQ(list.column(1).header, u"当前值");
    ASSERT_EQ(list.rowCount(), 2);
    EXPECT_EQ(list.cellText(1, 2), u"%");
    const ui::Control& stations = page->control(StatusPage::kStationList);
    ASSERT_EQ(stations.itemCount(), 64);
    EXPECT_EQ(stations.itemText(63), u"64");
    EXPECT_EQ(stations.selection(), 0);
    EXPECT_EQ(page->radioGroupIndex(StatusPage::kFirstBaudButton), 5);
    EXPECT_EQ(page->radioGroupIndex(StatusPage::kFirstPortButton), 0);

    // 969 x 641: the I/O groups take what their rows of boxes need, and the
    // link group the rest below them.
    EXPECT_EQ(page->control(1098).rect(), ui::Rect::fromXywh(460, 362, 120, 20));  // Y4
    EXPECT_EQ(page->control(StatusPage::kLinkGroup).rect(), ui::Rect::fromXywh(440, 405, 519, 226));
    context.pageRect = {2, 30, 1202, 830};
    page->layoutPage();
    EXPECT_EQ(page->windowRect(), context.pageRect);
    // Wider, the status list and the I/O frame share the extra width.
    EXPECT_EQ(page->control(StatusPage::kStatusList).rect().width(), 400 + 115);
    EXPECT_EQ(page->control(1097).rect(), ui::Rect::fromXywh(440 + 115, 170, 750 - 115, 228));
    EXPECT_EQ(page->control(StatusPage::kLinkGroup).rect(),
              ui::Rect::fromXywh(440 + 115, 405, 750 - 115, 790 - 405));

    // A click on a row selects it, scrolls it into view and focuses the list.
    ASSERT_TRUE(page->userClickRow(StatusPage::kStatusList, 1));
    EXPECT_EQ(list.selectionMark(), 1);
    EXPECT_EQ(list.lastEnsuredVisible(), 1);
    EXPECT_TRUE(list.isRowSelected(1));
    EXPECT_TRUE(list.hasFocus());
}

// The figures of servo-sim's "stats": what it injected.
std::map<std::string, unsigned> simStats(testsupport::SimProcess& sim) {
    std::map<std::string, unsigned> stats;
    std::istringstream in(sim.ok("stats"));
    for (std::string pair; in >> pair;)
        if (const auto eq = pair.find('='); eq != std::string::npos)
            stats[pair.substr(0, eq)] = static_cast<unsigned>(std::stoul(pair.substr(eq + 1)));
    return stats;
}

TEST_F(StatusPageTest, LinkGroupCountsTheFaultsTheSimulatorInjectedAndANewConnectClearsIt) {
    testsupport::SimProcess sim({"--no-pace"});
    sim.exportAsCom(1);
    recordTransactions();
    open(languageText({}, {u"[INT16U][100][a][][]"}, {}));
    connect(1);
    // Short time-outs and one retry: each failed read is two attempts.
    ASSERT_EQ(master.setChannelTiming(0, 20, 1), 1);
    std::uint8_t scratch[2] = {};
    for (const char* fault : {"badcrc on", "wrongstation on", "exception 2", "noanswer on"}) {
        sim.ok(fault);
        EXPECT_NE(drive.readRegisters(100, scratch, 1), 0) << fault;
        sim.ok("faults off");
    }
    ASSERT_EQ(drive.readRegisters(100, scratch, 1), 0);
    tick();

    auto injected = simStats(sim);
    const modbus::TransactionCounts& counts = health->figures().counts;
    EXPECT_EQ(counts.badChecksums, injected["badcrc"]);
    EXPECT_EQ(counts.wrongStations, injected["wrongstation"]);
    EXPECT_EQ(counts.exceptions, injected["exceptions"]);
    EXPECT_EQ(counts.timeouts, injected["dropped"]);
    EXPECT_EQ(injected["badcrc"], 2u);
    EXPECT_EQ(page->text(StatusPage::kLinkCounts),
              u"Since connect: time-outs 2, bad checksums 2, exceptions 2,\nwrong-station "
              u"answers 2, other errors 0, retries 4");
    const std::u16string last = page->text(StatusPage::kLinkLastError);
    EXPECT_TRUE(last.starts_with(u"Last error: ")) << platform::toUtf8(last);
    EXPECT_TRUE(
        last.ends_with(u" time-out (no answer) (station 1, function 03, address 100, retry 1)"))
        << platform::toUtf8(last);
    EXPECT_EQ(last[14], u':') << "HH:MM:SS";
    const std::u16string rate = page->text(StatusPage::kLinkRate);
    EXPECT_TRUE(rate.starts_with(u"Rate ") &&
                rate.find(u"/s, round trip ") != std::u16string::npos && rate.ends_with(u" ms)"))
        << platform::toUtf8(rate);
    context.englishTexts = false;
    tick();
    EXPECT_TRUE(page->text(StatusPage::kLinkCounts)
                    .starts_with(u"连接以来：超时 2，校验错误 2，异常应答 2，"));
    EXPECT_TRUE(page->text(StatusPage::kLinkLastError)
                    .ends_with(u"（站号 1，功能码 03，地址 100，重发 1）"));
    context.englishTexts = true;

    // A disconnect keeps what the link went through; a new connect starts
    // afresh, before the drive has answered anything.
    page->toggleConnection();
    tick();
    EXPECT_NE(page->text(StatusPage::kLinkCounts).find(u"time-outs 2"), std::u16string::npos);
    ASSERT_TRUE(page->userClick(StatusPage::kConnectButton));
    ASSERT_TRUE(session.connected());
    tick();
    EXPECT_EQ(page->text(StatusPage::kLinkRate), u"No transactions yet");
    EXPECT_EQ(page->text(StatusPage::kLinkLastError), u"Last error: none");
    ASSERT_TRUE(session.probe().ok());
    tick();
    EXPECT_TRUE(page->text(StatusPage::kLinkRate).starts_with(u"Rate "));
    EXPECT_EQ(page->text(StatusPage::kLinkCounts),
              u"Since connect: time-outs 0, bad checksums 0, exceptions 0,\nwrong-station "
              u"answers 0, other errors 0, retries 0");
}

TEST_F(StatusPageTest, LatencyHintShowsOnlyForAUsbAdapterWithASlowTimer) {
    testsupport::SimProcess sim({"--no-pace"});
    sim.exportAsCom(1);
    open();
    connect(1);
    const auto hintShown = [this] {
        const bool shown = page->control(StatusPage::kLatencyHint).isVisible();
        EXPECT_EQ(page->control(StatusPage::kLatencyCommand).isVisible(), shown);
        return shown;
    };
    // A pseudo-terminal is no USB adapter, on this system or on a tree that
    // holds a slow one.
    EXPECT_FALSE(hintShown());
    testsupport::TempDir root;
    const std::filesystem::path timer = root.path() / "sys/class/tty/ttyUSB0/device/latency_timer";
    std::filesystem::create_directories(timer.parent_path());
    const auto setTimer = [&timer](int ms) { std::ofstream(timer) << ms << "\n"; };
    setTimer(16);
    page->setSystemRoot(root.path());
    EXPECT_FALSE(hintShown());

    // The link's device seen as a link to that adapter, as a
    // /dev/serial/by-id name is.
    const std::filesystem::path device =
        root.path() / std::filesystem::path(sim.ptyPath()).relative_path();
    std::filesystem::create_directories(device.parent_path());
    std::filesystem::create_symlink("/dev/ttyUSB0", device);
    page->setSystemRoot(root.path());
    ASSERT_TRUE(hintShown());
    EXPECT_EQ(page->text(StatusPage::kLatencyCommand),
              u"echo 1 | sudo tee /sys/bus/usb-serial/devices/ttyUSB0/latency_timer");
    EXPECT_NE(page->text(StatusPage::kLatencyHint)
                  .find(u"ttyUSB0 holds every answer back for its latency timer of 16 ms"),
              std::u16string::npos)
        << platform::toUtf8(page->text(StatusPage::kLatencyHint));
    // The hint fits the room that the group keeps for it.
    for (const ui::LayoutIssue& issue : ui::findLayoutIssues(*page)) {
        const auto ours = [](int id) {
            return id >= StatusPage::kLinkGroup && id <= StatusPage::kBusMonitorButton;
        };
        if (ours(issue.id) || ours(issue.other)) ADD_FAILURE() << issue.message;
    }

    // Lowered while connected: the hint goes at the next reading.
    setTimer(1);
    for (int i = 0; i < StatusPage::kLatencyRecheckTicks; ++i) page->refreshStatus();
    EXPECT_FALSE(hintShown());
    setTimer(16);
    for (int i = 0; i < StatusPage::kLatencyRecheckTicks; ++i) page->refreshStatus();
    EXPECT_TRUE(hintShown());
    page->toggleConnection();
    EXPECT_FALSE(hintShown()) << "no port in use";
}

TEST_F(StatusPageTest, BusMonitorButtonOpensTheMonitorOnceThereIsOne) {
    open();
    EXPECT_FALSE(page->control(StatusPage::kBusMonitorButton).isEnabled());
    int opened = 0;
    context.openBusMonitor = [&opened] { ++opened; };
    page->refreshStatus();
    ASSERT_TRUE(page->userClick(StatusPage::kBusMonitorButton));
    EXPECT_EQ(opened, 1);
    context.englishTexts = false;
    page->layoutPage();
    EXPECT_EQ(page->text(StatusPage::kBusMonitorButton), u"总线监视...");
    EXPECT_EQ(page->text(StatusPage::kLinkGroup), u"通讯链路");
    context.openBusMonitor = nullptr;
}

}  // namespace
