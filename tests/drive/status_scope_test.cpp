// StatusService and ScopeAcquisition against servo-sim.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "drive/scope.h"
#include "drive/status.h"
#include "drive_rig.h"
#include "platform/clock.h"

namespace {

using drive::Error;
using drivetest::Rig;

TEST(StatusService, PollReadsItemsInputsOutputsAndNotesEachNewAlarm) {
    Rig rig({"--alarm", "0"});
    drive::StatusService status(rig.session, rig.language.statusItems());
    rig.connect();
    rig.sim.ok("set input 3 1");
    rig.sim.ok("set coil 6 1");
    ASSERT_TRUE(status.poll().ok());
    EXPECT_EQ(status.inputState(3), 1);
    EXPECT_EQ(status.outputState(6), 1);
    EXPECT_EQ(status.outputState(5), 0);
    const drive::AlarmNotice first = status.alarmNotice();
    EXPECT_EQ(first.sequence, 1u);
    EXPECT_EQ(first.value, 0);

    // An unchanged alarm makes no notice; a new one does.
    ASSERT_TRUE(status.poll().ok());
    EXPECT_EQ(status.alarmNotice().sequence, 1u);
    rig.sim.ok("alarm 7");
    ASSERT_TRUE(status.poll().ok());
    EXPECT_EQ(status.alarmNotice().sequence, 2u);
    EXPECT_EQ(status.lastAlarm(), 7);

    ASSERT_TRUE(status.writeOutput(2, true).ok());
    EXPECT_EQ(rig.sim.ok("get coil 2"), "1");
    EXPECT_EQ(status.outputState(2), 1);
    EXPECT_EQ(status.writeOutput(8, true).error, Error::badValue);

    rig.sim.ok("exception 4");
    const drive::Result r = status.poll();
    EXPECT_EQ(r.error, Error::refused);
    EXPECT_EQ(status.lastAlarm(), 7);
}

TEST(StatusService, TheBlockSpansEveryItemWhateverTheirOrder) {
    Rig rig;
    const data::StatusTable& items = rig.language.statusItems();
    const drive::StatusBlock block = drive::statusBlock(items.span());
    for (const data::StatusItem& item : items) {
        EXPECT_GE(item.address, block.firstAddress);
        EXPECT_LE((item.address - block.firstAddress + data::typeSize(item.typeCode) / 2u) * 2u,
                  block.byteCount + 2u);
    }
}

struct ScopeRig : Rig {
    drive::ScopeAcquisition scope{session, language.scopeQuantities()};
    std::vector<drive::ScopeSample> take() {
        std::vector<drive::ScopeSample> out;
        scope.takeSamples([&](const drive::ScopeSample& s) { out.push_back(s); });
        return out;
    }
};

TEST(ScopeAcquisition, SamplesAreStampedWithTheRealReadTimes) {
    ScopeRig rig;
    rig.connect();
    rig.scope.setSamplePeriodUs(5000);
    rig.scope.setChannel(0, true, 0);
    // Each answer 30 ms late: far beyond the nominal period of 5 ms.
    rig.sim.ok("delay 30");
    const std::uint64_t before = platform::monotonicMicros();
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(rig.scope.acquire().ok());
    const std::uint64_t after = platform::monotonicMicros();
    const std::vector<drive::ScopeSample> samples = rig.take();
    ASSERT_EQ(samples.size(), 4u);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        EXPECT_GT(samples[i].timeMicros, before);
        EXPECT_LT(samples[i].timeMicros, after);
        if (i > 0) {
            EXPECT_GE(samples[i].timeMicros - samples[i - 1].timeMicros, 30000u);
        }
    }
}

TEST(ScopeAcquisition, NearbyChannelsShareOneRequest) {
    ScopeRig rig;
    const data::ScopeTable& q = rig.language.scopeQuantities();
    ASSERT_GE(q.size(), 3u);
    ASSERT_LE(q[2].address - q[0].address, drive::ScopeAcquisition::kGroupSpan);
    rig.connect();
    rig.scope.setSamplePeriodUs(1000);
    rig.scope.setChannel(0, true, 0);
    rig.scope.setChannel(1, true, 1);
    rig.scope.setChannel(2, true, 2);
    rig.sim.ok("log on");
    ASSERT_TRUE(rig.scope.acquire().ok());
    // One request (sent again only if an answer came garbled).
    std::istringstream frames(rig.sim.ok("log dump"));
    std::string count;
    std::string first;
    std::string frame;
    frames >> count >> first;
    while (frames >> frame) EXPECT_EQ(frame, first);
    const std::vector<drive::ScopeSample> samples = rig.take();
    ASSERT_EQ(samples.size(), 3u);
    EXPECT_EQ(samples[0].timeMicros, samples[2].timeMicros);

    // Paused or without a channel on, nothing is read.
    rig.scope.setPaused(true);
    bool read = true;
    ASSERT_TRUE(rig.scope.acquire(&read).ok());
    EXPECT_FALSE(read);
    EXPECT_TRUE(rig.take().empty());
}

}  // namespace
