// The poll loop with the main window on the headless backend: the status line,
// the page polls and their faults (on a line where nothing answers), and
// (against servo-sim on a pty) the probe, a drive that stops answering, and
// closing during a transaction.
#include <gtest/gtest.h>

#include <array>
#include <sstream>

#include "app_fixture.h"
#include "support/sim_process.h"

namespace {

using namespace apptest;
using app::MainWindow;

const std::u16string kWithScope = uiTextsFile({{3, u"【示波器】"}});

// The shortest pause between the end of one poll and the start of the next.
std::chrono::steady_clock::duration shortestPause(const CountingPage& p) {
    auto shortest = std::chrono::steady_clock::duration::max();
    for (std::size_t i = 1; i < p.pollStarts.size() && i <= p.pollEnds.size(); ++i)
        shortest = std::min(shortest, p.pollStarts[i] - p.pollEnds[i - 1]);
    return shortest;
}

TEST(PollLoop, WithoutALinkItShowsTheTextAndPollsNothing) {
    Shell shell(uiTextsFile({{66, u"Offline"}}));
    shell.run([&](MainWindow&) {
        EXPECT_TRUE(shell.waitForStatus(u"Offline"));
        std::this_thread::sleep_for(250ms);
        shell.backend.pumpPosted();
        EXPECT_EQ(shell.statusLine(), u"Offline");
        EXPECT_EQ(shell.pages.status->polls.load(), 0);
        EXPECT_EQ(shell.session.faultCode(), 0);
    });
}

TEST(PollLoop, AHealthyLinkPollsTheSelectedPageOnly) {
    Shell shell(kWithScope);
    const PageRefs& p = shell.pages;
    // Connected and healthy before the poll thread starts.
    ASSERT_TRUE(shell.program.connectIdleLine().ok());
    shell.run([&](MainWindow& w) {
        EXPECT_TRUE(shell.waitFor([&] { return p.status->polls.load() >= 3; }));
        EXPECT_EQ(p.parameters->polls.load(), 0);
        EXPECT_EQ(p.scope->polls.load(), 0);
        EXPECT_EQ(p.status->watches.load(), 0) << "its own poll reads the alarm";

        w.userClickTab(MainWindow::kTabControl, 1);
        EXPECT_TRUE(shell.waitFor([&] { return p.parameters->polls.load() >= 4; }));
        EXPECT_EQ(p.scope->polls.load(), 0);
        w.userClickTab(MainWindow::kTabControl, 2);
        EXPECT_TRUE(shell.waitFor([&] { return p.scope->polls.load() >= 3; }));
        EXPECT_EQ(shell.session.faultCode(), 0);
        // The status page watches (the alarm) while another page is shown.
        EXPECT_TRUE(shell.waitFor([&] { return p.status->watches.load() >= 2; }));
        EXPECT_EQ(p.parameters->watches.load(), 0);
    });
    // Read after the thread has been joined.
    EXPECT_GE(shortestPause(*p.status), 20ms);
    EXPECT_GE(shortestPause(*p.parameters), 20ms);
}

TEST(PollLoop, AFailedPollTurnsTheFollowingPassesIntoProbes) {
    Shell shell;
    CountingPage& status = *shell.pages.status;
    status.result = modbus::kAccessNoResponse;
    // Nothing answers on the line: every probe times out after 20 ms.
    ASSERT_TRUE(shell.program.connectIdleLine({20, 0}).ok());
    const std::uint64_t generation = shell.session.generation();
    shell.run([&](MainWindow&) {
        EXPECT_TRUE(shell.waitForStatus(
            u"Communication fault: no answer from station 1 after 1 try (20 ms each)"));
        EXPECT_EQ(shell.session.faultCode(), modbus::kAccessNoResponse);
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(status.polls.load(), 1) << "no page poll while the fault is flagged";
        // Clearing the fault resumes the page poll (the probes keep setting
        // it again, so it is cleared until a pass sees it clear).
        status.result = 0;
        EXPECT_TRUE(shell.waitFor([&] {
            shell.session.noteFault(generation, 0);
            return status.polls.load() >= 2;
        }));
    });
}

// --- against the simulated drive

std::vector<std::string> words(const std::string& s) {
    std::istringstream in(s);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

// Read one holding register at address 0: the link probe.
constexpr const char* kProbeFrame = "010300000001840A";

class PollLoopOnADrive : public ::testing::Test {
  protected:
    void SetUp() override { sim.exportAsCom(1); }

    // What the connection page does on connect to COM1, station 1: the
    // fault flagged, so that the loop probes first.
    void connect(Shell& shell, std::uint16_t timeoutMs = 200, std::uint8_t retries = 5) {
        const drive::Result result =
            shell.program.connect(drive::kFaultProbe, {timeoutMs, retries});
        ASSERT_TRUE(result.ok()) << result.cause();
    }

    // The requests the simulator received since `log on`.
    std::vector<std::string> requests() {
        auto w = words(sim.ok("log dump"));
        if (!w.empty()) w.erase(w.begin());
        return w;
    }

    // Pages that read a parameter register, as the real pages read theirs.
    static void readThroughTheDrive(Shell& shell) {
        for (int i = 0; i < 3; ++i)
            shell.pages.at(i)->onPoll = [&shell] {
                std::array<std::uint8_t, 2> value{};
                return shell.session.readRegisters(22, value).accessCode();
            };
    }

    testsupport::SimProcess sim{{"--no-pace"}};
};

TEST_F(PollLoopOnADrive, TheFirstExchangeAfterConnectIsTheProbe) {
    Shell shell;
    readThroughTheDrive(shell);
    sim.ok("log on");
    shell.run([&](MainWindow&) {
        EXPECT_TRUE(shell.waitForStatus(u"Not connected"));
        connect(shell);
        EXPECT_TRUE(shell.waitForStatus(u"Link OK"));
        EXPECT_TRUE(shell.waitFor([&] { return shell.pages.status->polls.load() >= 2; }));
        EXPECT_EQ(shell.session.faultCode(), 0);
    });
    const auto log = requests();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0], kProbeFrame);
    EXPECT_EQ(log[1].substr(0, 12), "010300160001") << "then the page's own reads";
}

TEST_F(PollLoopOnADrive, ADriveThatStopsAnsweringShowsTheFaultAndRecoversByItself) {
    Shell shell;
    readThroughTheDrive(shell);
    CountingPage& parameters = *shell.pages.parameters;
    shell.run([&](MainWindow& w) {
        w.userClickTab(MainWindow::kTabControl, 1);
        connect(shell);
        ASSERT_TRUE(shell.waitForStatus(u"Link OK"));
        ASSERT_TRUE(shell.waitFor([&] { return parameters.polls.load() >= 1; }));

        sim.ok("noanswer on");
        ASSERT_TRUE(shell.waitForStatus(
            u"Communication fault: no answer from station 1 after 6 tries (200 ms each)"));
        EXPECT_EQ(shell.session.faultCode(), modbus::kAccessNoResponse);
        const int pollsWhileFaulty = parameters.polls.load();
        sim.ok("log on");
        ASSERT_TRUE(shell.waitFor([&] { return requests().size() >= 2; }));
        for (const std::string& frame : requests()) EXPECT_EQ(frame, kProbeFrame);
        EXPECT_EQ(parameters.polls.load(), pollsWhileFaulty) << "only probes while faulty";
        EXPECT_EQ(shell.statusLine(),
                  u"Communication fault: no answer from station 1 after 6 tries (200 ms each)");

        sim.ok("noanswer off");
        EXPECT_TRUE(shell.waitForStatus(u"Link OK"));
        EXPECT_TRUE(shell.waitFor([&] { return parameters.polls.load() > pollsWhileFaulty + 1; }));
        EXPECT_EQ(shell.session.faultCode(), 0);
    });
}

TEST_F(PollLoopOnADrive, TheStatusLineIsRightFromTheMomentOfConnectAndNamesTheFaultsCause) {
    Shell shell;
    sim.ok("noanswer on");
    shell.run([&](MainWindow&) {
        ASSERT_TRUE(shell.waitForStatus(u"Not connected"));
        connect(shell, 50, 1);
        shell.context.linkChanged();  // as the status page does after a connect
        EXPECT_EQ(shell.statusLine(), u"Connecting to COM1 (" + platform::fromUtf8(sim.ptyPath()) +
                                          u"): waiting for the drive...");
        EXPECT_TRUE(shell.waitForStatus(
            u"Communication fault: no answer from station 1 after 2 tries (50 ms each)"));

        // Each cause in its own words, as the probe meets it.
        const std::pair<const char*, std::u16string> faults[] = {
            {"badcrc on", u"Communication fault: bad checksum"},
            {"wrongstation on",
             u"Communication fault: the answer came from another station than 1"},
            {"exception 2",
             u"Communication fault: the drive refused the request: exception 02, illegal data "
             u"address"},
        };
        for (const auto& [command, text] : faults) {
            sim.ok("faults off");
            sim.ok(command);
            EXPECT_TRUE(shell.waitForStatus(text)) << platform::toUtf8(shell.statusLine());
        }
        sim.ok("faults off");
        EXPECT_TRUE(shell.waitForStatus(u"Link OK"));
        EXPECT_EQ(shell.window->control(MainWindow::kStatusLine).textColor(), std::nullopt);
        shell.session.disconnect();
        shell.context.linkChanged();
        EXPECT_EQ(shell.statusLine(), u"Not connected");
    });
}

TEST(PollLoopReopen, APortThatWentAwayIsOpenedAgainWhenItComesBack) {
    // The simulator's pty behind a link that goes with it and comes back with
    // the next one, as a USB adapter's device goes and comes back.
    const TempDir dir;
    const std::string link = (dir.path() / "com1").string();
    ::setenv("SERVO_COM1", link.c_str(), 1);
    auto sim = std::make_unique<testsupport::SimProcess>(
        std::vector<std::string>{"--no-pace", "--link", link});
    Shell shell;
    shell.pages.status->onPoll = [&shell] {
        std::array<std::uint8_t, 2> value{};
        return shell.session.readRegisters(22, value).accessCode();
    };
    shell.run([&](MainWindow&) {
        ASSERT_TRUE(shell.program.connect(drive::kFaultProbe, {50, 1}).ok());
        ASSERT_TRUE(shell.waitForStatus(u"Link OK"));
        const std::uint64_t generation = shell.session.generation();

        sim->stop();
        EXPECT_TRUE(shell.waitFor([&] {
            return shell.statusLine().ends_with(u" (opening the port again...)");
        })) << platform::toUtf8(shell.statusLine());
        EXPECT_TRUE(shell.statusLine().starts_with(u"Communication fault: "));

        sim = std::make_unique<testsupport::SimProcess>(
            std::vector<std::string>{"--no-pace", "--link", link});
        EXPECT_TRUE(shell.waitForStatus(u"Link OK")) << platform::toUtf8(shell.statusLine());
        EXPECT_EQ(shell.session.generation(), generation) << "the same connection";
        EXPECT_TRUE(shell.session.healthy());
        std::array<std::uint8_t, 2> value{};
        EXPECT_TRUE(shell.session.readRegisters(0, value).ok());
    });
    ::unsetenv("SERVO_COM1");
}

TEST_F(PollLoopOnADrive, ClosingWaitsForTheTransactionInFlight) {
    std::atomic<bool> ended{false};
    const app::ThreadLauncher launcher = [&ended](std::function<void()> body) {
        return std::thread([body = std::move(body), &ended] {
            body();
            ended.store(true);
        });
    };
    Shell shell({}, launcher);
    sim.ok("noanswer on");
    sim.ok("log on");
    shell.run([&](MainWindow& w) {
        // A probe that waits 3 s for its answer.
        connect(shell, 3000, 0);
        ASSERT_TRUE(shell.waitFor([&] { return !requests().empty(); }));
        // The close does not block the user interface thread: it says what
        // it waits for, and the end of the transaction ends the window.
        w.userClose();
        EXPECT_FALSE(ended.load()) << "the close waited for the transaction";
        EXPECT_FALSE(w.modalEnded());
        EXPECT_TRUE(w.closePending());
        EXPECT_EQ(shell.statusLine(), u"Closing: waiting for the drive's answer...");
        EXPECT_TRUE(shell.waitFor([&] { return w.modalEnded(); }));
        EXPECT_TRUE(ended.load());
    });
    EXPECT_TRUE(ended.load()) << "the poll thread outlived the window";
    EXPECT_FALSE(shell.window->pollThreadRunning());
}

}  // namespace
