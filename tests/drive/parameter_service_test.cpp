// ParameterService against servo-sim: the block read, one-parameter writes
// and stores, and every bulk operation with a fault in the middle: the
// report must say which parameters reached the drive.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>

#include "data/value_file.h"
#include "drive/parameters.h"
#include "drive_rig.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace {

using drive::Error;
using drive::ItemOutcome;
using drivetest::Rig;
namespace fs = std::filesystem;

// The value as the simulator prints it (in the type).
std::string shown(const data::ParameterDefinition& p, std::uint32_t value) {
    return platform::toUtf8(data::valueToText(p.typeCode, value));
}

// Writable parameters whose range leaves room for a value other than the
// factory one.
std::vector<std::size_t> adjustable(const data::ParameterTable& table) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const data::ParameterDefinition& p = table[i];
        if (p.writable() &&
            data::checkRange(p.typeCode, p.factoryValue + 1, p.minimum, p.maximum) == 0)
            out.push_back(i);
    }
    return out;
}

struct ParameterRig : Rig {
    drive::ParameterService service{session, language.parameters()};
    data::ParameterTable& table() { return language.parameters(); }
    explicit ParameterRig(std::vector<std::string> args = {}) : Rig(std::move(args)) {}
};

TEST(ParameterService, ReadAllTakesEveryValueFromTheDrive) {
    ParameterRig rig;
    ASSERT_TRUE(rig.service.tableFits());
    const std::size_t i = adjustable(rig.table()).at(3);
    const std::uint32_t v = rig.table()[i].factoryValue + 1;
    rig.sim.ok("set param " + std::to_string(i) + " " + shown(rig.table()[i], v));
    rig.connect();
    EXPECT_FALSE(rig.service.hasCompleteRead());
    std::size_t lastDone = 0;
    std::size_t calls = 0;
    drive::BulkControl control;
    control.progress = [&](std::size_t done, std::size_t) {
        lastDone = done;
        ++calls;
    };
    const drive::Result r = rig.service.readAll(control);
    ASSERT_TRUE(r.ok()) << r.cause();
    EXPECT_GT(calls, 1u);
    const data::ParameterTable& t = rig.table();
    EXPECT_EQ(lastDone, (t[t.size() - 1].address - t[0].address) / 12u + 1);
    EXPECT_TRUE(rig.service.hasCompleteRead());
    for (std::size_t k = 0; k < rig.table().size(); k += 7)
        EXPECT_EQ(shown(rig.table()[k], rig.table()[k].driveValue.load()), rig.simParam(k)) << k;
    EXPECT_EQ(rig.service.completeValues().at(i), v);

    // A write makes the read stale; so does a new connection.
    ASSERT_TRUE(rig.service.writeOne(i, rig.table()[i].factoryValue).ok());
    EXPECT_FALSE(rig.service.hasCompleteRead());
    ASSERT_TRUE(rig.service.readAll().ok());
    rig.connect();
    EXPECT_FALSE(rig.service.hasCompleteRead());
}

TEST(ParameterService, EnteredValuesAreCheckedBeforeAnythingIsSent) {
    ParameterRig rig;
    rig.connect();
    rig.sim.ok("log on");
    const std::size_t i = adjustable(rig.table()).at(0);
    const data::ParameterDefinition& p = rig.table()[i];
    std::uint32_t value = 0;
    drive::Result r = rig.service.parseValue(i, u"12abc", value);
    EXPECT_EQ(r.error, Error::badValue);
    EXPECT_NE(r.cause().find("is not a whole number"), std::string::npos) << r.cause();
    const std::u16string above =
        platform::fromUtf8(std::to_string(static_cast<long long>(p.maximum) + 1));
    r = rig.service.parseValue(i, above, value);
    EXPECT_EQ(r.error, Error::outOfRange);
    // The message names the range and the unit.
    const std::string range = platform::toUtf8(data::valueToText(p.typeCode, p.minimum)) + " to " +
                              platform::toUtf8(data::valueToText(p.typeCode, p.maximum));
    EXPECT_NE(r.cause().find(range), std::string::npos) << r.cause();
    EXPECT_NE(r.cause().find(platform::toUtf8(p.unit.view())), std::string::npos) << r.cause();
    EXPECT_EQ(rig.service.writeOne(i, p.maximum + 1).error, Error::outOfRange);
    EXPECT_EQ(rig.loggedWrites(), 0);

    const std::u16string text = platform::fromUtf8(" " + shown(p, p.factoryValue + 1) + " ");
    ASSERT_TRUE(rig.service.parseValue(i, text, value).ok());
    EXPECT_EQ(value, p.factoryValue + 1);
}

TEST(ParameterService, WriteOneToRamAndToTheEeprom) {
    ParameterRig rig;
    rig.connect();
    const std::size_t i = adjustable(rig.table()).at(1);
    const data::ParameterDefinition& p = rig.table()[i];
    const std::uint32_t v = p.factoryValue + 1;
    ASSERT_TRUE(rig.service.writeOne(i, v, drive::WriteMode::ram).ok());
    EXPECT_EQ(rig.simParam(i), shown(p, v));
    EXPECT_EQ(rig.sim.ok("get eeprom " + std::to_string(i)), shown(p, p.factoryValue));
    ASSERT_TRUE(rig.service.writeOne(i, v, drive::WriteMode::eeprom).ok());
    EXPECT_EQ(rig.sim.ok("get eeprom " + std::to_string(i)), shown(p, v));
}

TEST(ParameterService, StoreAllWaitsForTheDriveWithTheSaveTimeOut) {
    // A store that takes 1.2 s: far beyond the link's 200 ms, within the save time-out.
    ParameterRig rig({"--eeprom-ms", "1200"});
    rig.connect();
    const std::size_t i = adjustable(rig.table()).at(2);
    const data::ParameterDefinition& p = rig.table()[i];
    ASSERT_TRUE(rig.service.writeOne(i, p.factoryValue + 1).ok());
    const drive::Result r = rig.service.storeAll();
    ASSERT_TRUE(r.ok()) << r.cause();
    EXPECT_EQ(rig.sim.ok("get eeprom " + std::to_string(i)), shown(p, p.factoryValue + 1));
    EXPECT_EQ(rig.master.channel(0).responseTimeoutMs.load(), drive::kLinkTiming.responseTimeoutMs);
}

TEST(ParameterService, ARefusedStoreAllSaysWhy) {
    ParameterRig rig;
    rig.connect();
    rig.sim.ok("rejectwrite 1 4");
    const drive::Result r = rig.service.storeAll();
    EXPECT_EQ(r.error, Error::refused);
    EXPECT_EQ(r.address, drive::ParameterService::kEepromCommandRegister);
    EXPECT_EQ(r.cause(), "the drive refused the value: exception 04, slave device failure");
}

TEST(ParameterService, ImportReportsARefusedValueAndWritesTheRest) {
    ParameterRig rig;
    rig.connect();
    // File values that differ from the drive's wherever the range allows, so
    // the drive shows which of them arrived.
    const std::vector<std::size_t> changed = adjustable(rig.table());
    for (std::size_t i = 0; i < rig.table().size(); ++i)
        rig.table()[i].fileValue.store(rig.table()[i].factoryValue);
    for (std::size_t i : changed) rig.table()[i].fileValue.store(rig.table()[i].factoryValue + 1);
    rig.service.setFileLoaded(true);
    rig.sim.ok("rejectwrite 5 3");
    const drive::BulkReport report = rig.service.importFile();
    EXPECT_TRUE(report.result.ok()) << report.result.cause();
    EXPECT_FALSE(report.ok());
    EXPECT_EQ(report.count(ItemOutcome::refused), 1u);
    EXPECT_EQ(report.count(ItemOutcome::notReached), 0u);
    EXPECT_NE(report.summary().find("1 refused"), std::string::npos) << report.summary();
    // The simulator refuses its fifth write request: the fifth writable
    // parameter, or an earlier one when a garbled answer made the master send
    // a request again. Every parameter reported written holds its file value.
    std::size_t nth = 0;
    for (const drive::ItemReport& item : report.items) {
        const data::ParameterDefinition& p = rig.table()[item.index];
        if (!p.writable()) {
            EXPECT_EQ(item.outcome, ItemOutcome::unchanged);
            continue;
        }
        ++nth;
        if (item.outcome == ItemOutcome::refused) {
            EXPECT_LE(nth, 5u);
            EXPECT_EQ(item.result.cause(),
                      "the drive refused the value: exception 03, illegal data value");
            // Its value is not checked: the simulator counts a request sent
            // again after a garbled answer as a write of its own, so the
            // refused request may follow an applied first one.
        } else {
            EXPECT_EQ(item.outcome, ItemOutcome::written) << item.index;
            EXPECT_EQ(rig.simParam(item.index), shown(p, p.fileValue.load())) << item.index;
        }
    }
}

TEST(ParameterService, FactoryRestoreStoppedByASilentDriveSaysWhatWasWritten) {
    ParameterRig rig;
    rig.connect(drive::RequestTiming{50, 1});
    // The drive goes silent just before the request of a writable parameter k.
    std::size_t k = 20;
    while (!rig.table()[k].writable()) ++k;
    bool silenced = false;
    drive::BulkControl control;
    control.progress = [&](std::size_t done, std::size_t) {
        if (done == k) {
            rig.sim.ok("noanswer on");
            silenced = true;
        }
    };
    const drive::BulkReport report = rig.service.factoryValues(control);
    ASSERT_TRUE(silenced);
    EXPECT_EQ(report.result.error, Error::writeUnconfirmed);
    for (const drive::ItemReport& item : report.items) {
        const bool writable = rig.table()[item.index].writable();
        if (item.index < k) {
            EXPECT_EQ(item.outcome, writable ? ItemOutcome::written : ItemOutcome::unchanged);
        } else if (item.index > k) {
            EXPECT_EQ(item.outcome, ItemOutcome::notReached);
        }
    }
    EXPECT_EQ(report.items[k].outcome, ItemOutcome::unconfirmed);
    EXPECT_EQ(report.items[k].result.cause(),
              "time-out: the drive may have applied the write; read it back");
}

TEST(ParameterService, AFileWithAValueOutOfRangeWritesNothing) {
    ParameterRig rig;
    testsupport::TempDir dir;
    rig.connect();
    // A file whose values are the factory ones but one above its maximum.
    const std::size_t bad = adjustable(rig.table()).back();
    std::vector<data::ParameterDefinition> copy(rig.table().size());
    for (std::size_t i = 0; i < copy.size(); ++i)
        copy[i].driveValue.store(rig.table()[i].factoryValue);
    copy[bad].driveValue.store(rig.table()[bad].maximum + 1);
    const fs::path file = dir.path() / "bad.dat";
    ASSERT_EQ(data::saveValueFile(file, copy), 1);
    ASSERT_TRUE(rig.service.load(file).ok());
    rig.sim.ok("log on");
    const drive::BulkReport report = rig.service.importFile();
    EXPECT_EQ(report.result.error, Error::outOfRange);
    EXPECT_EQ(report.count(ItemOutcome::notReached), rig.table().size());
    EXPECT_EQ(rig.loggedWrites(), 0);

    EXPECT_EQ(rig.service.load(dir.path() / "missing.dat").error, Error::fileError);
}

TEST(ParameterService, BackupRightAfterConnectReadsFirstOrRefuses) {
    ParameterRig rig;
    testsupport::TempDir dir;
    // The drive differs from the factory values, so stale or zero values show.
    const std::vector<std::size_t> changed = adjustable(rig.table());
    for (std::size_t i : changed)
        rig.sim.ok("set param " + std::to_string(i) + " " +
                   shown(rig.table()[i], rig.table()[i].factoryValue + 1));
    rig.connect();

    const fs::path refused = dir.path() / "refused.dat";
    drive::Result r = rig.service.backup(refused, drive::BackupMode::refuseStale);
    EXPECT_EQ(r.error, Error::incompleteRead);
    EXPECT_FALSE(fs::exists(refused));

    const fs::path file = dir.path() / "backup.dat";
    std::size_t progressCalls = 0;
    drive::BulkControl control;
    control.progress = [&](std::size_t, std::size_t) { ++progressCalls; };
    r = rig.service.backup(file, drive::BackupMode::readFirst, control);
    ASSERT_TRUE(r.ok()) << r.cause();
    EXPECT_GT(progressCalls, 0u);
    ASSERT_TRUE(rig.service.load(file).ok());
    for (std::size_t i = 0; i < rig.table().size(); ++i)
        EXPECT_EQ(shown(rig.table()[i], rig.table()[i].fileValue.load()), rig.simParam(i)) << i;

    // After a write, the backup holds the written value, not the earlier read.
    const std::size_t i = changed.front();
    ASSERT_TRUE(rig.service.writeOne(i, rig.table()[i].factoryValue).ok());
    ASSERT_TRUE(rig.service.backup(file).ok());
    ASSERT_TRUE(rig.service.load(file).ok());
    EXPECT_EQ(rig.table()[i].fileValue.load(), rig.table()[i].factoryValue);
}

TEST(ParameterService, ABackupWhoseReadFailsWritesNoFile) {
    ParameterRig rig;
    testsupport::TempDir dir;
    rig.connect(drive::RequestTiming{50, 0});
    rig.sim.ok("noanswer on");
    const fs::path file = dir.path() / "backup.dat";
    const drive::Result r = rig.service.backup(file);
    EXPECT_EQ(r.error, Error::noAnswer);
    EXPECT_FALSE(fs::exists(file));
}

TEST(ParameterService, CancelStopsABulkWriteBetweenParameters) {
    ParameterRig rig;
    rig.connect();
    std::atomic<bool> cancel{false};
    drive::BulkControl control;
    control.cancel = &cancel;
    control.progress = [&](std::size_t done, std::size_t) {
        if (done == 10) cancel.store(true);
    };
    const drive::BulkReport report = rig.service.factoryValues(control);
    EXPECT_EQ(report.result.error, Error::cancelled);
    EXPECT_EQ(report.items[10].outcome, ItemOutcome::notReached);
    EXPECT_EQ(report.count(ItemOutcome::notReached), rig.table().size() - 10);
}

}  // namespace
