// Parameter compare and the checked write against servo-sim: what reaches the
// drive is read from the simulator's request log, what the report says is
// checked against the simulator's values.
#include "drive/compare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "data/value_file.h"
#include "drive_rig.h"
#include "platform/file_io.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace {

using drive::Error;
using drive::VerifyOutcome;
namespace fs = std::filesystem;

struct CompareRig : drivetest::Rig {
    drive::ParameterService service{session, language.parameters()};
    drive::ParameterCompare compare{session, service};
    testsupport::TempDir dir;
    data::ParameterTable& table() { return language.parameters(); }

    // Writable parameters whose range takes their factory value + 1.
    std::vector<std::size_t> adjustable() {
        std::vector<std::size_t> out;
        for (std::size_t i = 0; i < table().size(); ++i) {
            const data::ParameterDefinition& p = table()[i];
            if (p.writable() &&
                data::checkRange(p.typeCode, p.factoryValue + 1, p.minimum, p.maximum) == 0)
                out.push_back(i);
        }
        return out;
    }

    // A .dat of the factory values (what the simulator starts with) but for
    // the given parameters, which hold factory value + 1.
    fs::path fileDiffering(const std::vector<std::size_t>& changed) {
        std::vector<data::ParameterDefinition> copy(table().size());
        for (std::size_t i = 0; i < table().size(); ++i)
            copy[i].driveValue.store(table()[i].factoryValue);
        for (std::size_t i : changed) copy[i].driveValue.store(table()[i].factoryValue + 1);
        const fs::path path = dir.path() / "drive.dat";
        EXPECT_EQ(data::saveValueFile(path, copy), 1);
        return path;
    }

    // Register addresses of the write requests (functions 6 and 16) logged.
    std::vector<unsigned> writtenAddresses() {
        std::istringstream in(sim.ok("log dump"));
        std::string frame;
        in >> frame;  // the count
        std::vector<unsigned> out;
        while (in >> frame) {
            if (frame.size() < 8) continue;
            const unsigned fn = std::stoul(frame.substr(2, 2), nullptr, 16);
            if (fn == 6 || fn == 16) out.push_back(std::stoul(frame.substr(4, 4), nullptr, 16));
        }
        return out;
    }

    std::uint32_t simValue(std::size_t i) {
        return static_cast<std::uint32_t>(std::stoll(simParam(i)));
    }
};

std::vector<std::size_t> differing(const drive::Comparison& c) {
    std::vector<std::size_t> out;
    for (const drive::CompareRow& r : c.rows)
        if (r.differs) out.push_back(r.index);
    return out;
}

TEST(ParameterCompare, WritesOnlyTheCheckedParametersAndVerifiesThem) {
    CompareRig rig;
    const std::vector<std::size_t> adjustable = rig.adjustable();
    ASSERT_GE(adjustable.size(), 12u);
    const std::vector<std::size_t> changed{adjustable[2], adjustable[5], adjustable[11]};
    drive::CompareSource source;
    ASSERT_TRUE(drive::sourceFromFile(rig.service, rig.fileDiffering(changed), source).ok());
    EXPECT_EQ(source.name, "file drive.dat");
    // The page's loaded file values are not the compare's business.
    EXPECT_FALSE(rig.service.fileLoaded());
    rig.connect();

    const drive::Comparison before = rig.compare.compare(source);
    ASSERT_TRUE(before.result.ok()) << before.result.cause();
    ASSERT_EQ(before.rows.size(), rig.table().size());
    EXPECT_EQ(differing(before), changed);
    const drive::CompareRow& row = before.rows[changed[1]];
    EXPECT_EQ(row.driveValue, rig.table()[changed[1]].factoryValue);
    EXPECT_EQ(row.sourceValue, rig.table()[changed[1]].factoryValue + 1);

    rig.sim.ok("log on");
    std::vector<std::size_t> progress;
    drive::BulkControl control;
    control.progress = [&](std::size_t done, std::size_t) { progress.push_back(done); };
    // Checked in reverse: the write still goes in table order.
    const drive::VerifyReport report =
        rig.compare.writeChecked({{changed[2], *before.rows[changed[2]].sourceValue},
                                  {changed[0], *before.rows[changed[0]].sourceValue}},
                                 control);
    ASSERT_TRUE(report.ok()) << report.summary() << " " << report.result.cause();
    ASSERT_EQ(report.items.size(), 2u);
    EXPECT_EQ(report.items[0].index, changed[0]);
    EXPECT_EQ(report.items[1].index, changed[2]);
    for (const drive::VerifyItem& item : report.items) {
        EXPECT_EQ(item.outcome, VerifyOutcome::verified);
        EXPECT_EQ(item.readBack, item.value);
        EXPECT_EQ(rig.simValue(item.index), item.value);
    }
    EXPECT_EQ(rig.writtenAddresses(), (std::vector<unsigned>{rig.table()[changed[0]].address,
                                                             rig.table()[changed[2]].address}));
    EXPECT_EQ(progress.back(), 4u);
    EXPECT_EQ(report.summary(), "2 verified, 0 refused, 0 different after writing");

    // The unchecked one still differs; the two written ones no longer do.
    const drive::Comparison after = rig.compare.compare(source);
    EXPECT_EQ(differing(after), std::vector<std::size_t>{changed[1]});
}

TEST(ParameterCompare, ARefusedValueIsReportedWithTheDrivesReason) {
    CompareRig rig;
    const std::vector<std::size_t> a = rig.adjustable();
    rig.connect();
    rig.sim.ok("rejectwrite 1 3");
    const std::uint32_t first = rig.table()[a[0]].factoryValue + 1;
    const std::uint32_t second = rig.table()[a[1]].factoryValue + 1;
    const drive::VerifyReport report = rig.compare.writeChecked({{a[0], first}, {a[1], second}});
    EXPECT_TRUE(report.result.ok()) << report.result.cause();
    EXPECT_FALSE(report.ok());
    ASSERT_EQ(report.items.size(), 2u);
    EXPECT_EQ(report.items[0].outcome, VerifyOutcome::refused);
    EXPECT_EQ(report.items[0].result.exceptionCode, 3);
    EXPECT_EQ(rig.simValue(a[0]), rig.table()[a[0]].factoryValue);
    // The refusal does not stop the next one.
    EXPECT_EQ(report.items[1].outcome, VerifyOutcome::verified);
    EXPECT_EQ(rig.simValue(a[1]), second);

    const std::string text = drive::reportText(rig.service, report, "file drive.dat");
    EXPECT_NE(text.find("1 verified, 1 refused, 0 different after writing"), std::string::npos)
        << text;
    const std::string number = platform::toUtf8(rig.service.displayName(a[0]));
    EXPECT_NE(text.find(number), std::string::npos) << text;
    EXPECT_NE(text.find("refused: the drive refused the value: exception 03, illegal data value"),
              std::string::npos)
        << text;
}

TEST(ParameterCompare, AValueThatReadsBackDifferentIsReportedWithWhatTheDriveHolds) {
    CompareRig rig;
    const std::size_t i = rig.adjustable().at(4);
    const data::ParameterDefinition& p = rig.table()[i];
    rig.connect();
    // The simulator now answers every register read with the register's own
    // address: the write lands, the read back shows another value.
    rig.sim.ok("pattern on");
    const drive::VerifyReport report = rig.compare.writeChecked({{i, p.factoryValue + 1}});
    ASSERT_EQ(report.items.size(), 1u);
    EXPECT_EQ(report.items[0].outcome, VerifyOutcome::different);
    EXPECT_EQ(report.items[0].readBack & 0xFFFFu, p.address);
    EXPECT_EQ(rig.simValue(i), p.factoryValue + 1);
    EXPECT_FALSE(report.ok());
    const std::string text = drive::reportText(rig.service, report, "");
    EXPECT_NE(text.find("different after writing, the drive reads " +
                        platform::toUtf8(data::valueToText(p.typeCode, report.items[0].readBack))),
              std::string::npos)
        << text;
}

TEST(ParameterCompare, NothingIsSentForAReadOnlyParameterOrAValueOutOfRange) {
    CompareRig rig;
    rig.connect();
    rig.sim.ok("log on");
    const std::size_t ok = rig.adjustable().at(0);
    std::size_t readOnly = 0;
    while (rig.table()[readOnly].writable()) ++readOnly;
    const std::uint32_t good = rig.table()[ok].factoryValue + 1;
    drive::VerifyReport report = rig.compare.writeChecked({{ok, good}, {readOnly, 0}});
    EXPECT_EQ(report.result.error, Error::badValue);
    EXPECT_NE(report.result.cause().find("read-only"), std::string::npos);
    const data::ParameterDefinition& p = rig.table()[ok];
    report = rig.compare.writeChecked({{ok, p.maximum + 1}});
    EXPECT_EQ(report.result.error, Error::outOfRange);
    EXPECT_NE(report.result.cause().find(rig.service.rangeText(ok)), std::string::npos);
    EXPECT_EQ(report.count(VerifyOutcome::notReached), 1u);
    EXPECT_TRUE(rig.writtenAddresses().empty());
}

TEST(ParameterCompare, CancelStopsTheWritesAndStillReadsBackWhatWasWritten) {
    CompareRig rig;
    const std::vector<std::size_t> a = rig.adjustable();
    rig.connect();
    std::atomic<bool> cancel{false};
    drive::BulkControl control;
    control.cancel = &cancel;
    // Cancelled as the second write is about to go.
    control.progress = [&](std::size_t done, std::size_t) {
        if (done == 1) cancel.store(true);
    };
    const drive::VerifyReport report = rig.compare.writeChecked(
        {{a[0], rig.table()[a[0]].factoryValue + 1}, {a[1], rig.table()[a[1]].factoryValue + 1}},
        control);
    EXPECT_EQ(report.result.error, Error::cancelled);
    EXPECT_EQ(report.items[0].outcome, VerifyOutcome::verified);
    EXPECT_EQ(report.items[1].outcome, VerifyOutcome::notReached);
    EXPECT_EQ(rig.simValue(a[1]), rig.table()[a[1]].factoryValue);
}

TEST(ParameterCompare, SourcesAndTheirFailures) {
    CompareRig rig;
    // A file that is not one of this table's names the file.
    const fs::path bad = rig.dir.path() / "bad.dat";
    const std::vector<std::uint8_t> junk{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    ASSERT_TRUE(platform::replaceFile(bad, junk));
    drive::CompareSource source;
    drive::Result r = drive::sourceFromFile(rig.service, bad, source);
    EXPECT_EQ(r.error, Error::fileError);
    EXPECT_NE(r.cause().find("bad.dat"), std::string::npos) << r.cause();
    r = drive::sourceFromFile(rig.service, rig.dir.path() / "missing.dat", source);
    EXPECT_EQ(r.error, Error::fileError);
    EXPECT_NE(r.cause().find("missing.dat"), std::string::npos) << r.cause();

    // A model set covers its first 100 parameters; values in the type's width.
    data::ModelValueSets models;
    ASSERT_EQ(data::loadModelTable(drivetest::distDir() / "version" / "Servo.csv",
                                   rig.table().size(), models),
              1);
    ASSERT_GT(models.count(), 0u);
    source = drive::sourceFromModel(rig.service, models, 0);
    ASSERT_EQ(source.values.size(), rig.table().size());
    for (std::size_t i = 0; i < rig.table().size(); ++i) {
        if (i >= data::ModelValueSets::kMaxValues) {
            EXPECT_FALSE(source.values[i].has_value()) << i;
            continue;
        }
        const auto v = static_cast<std::uint32_t>(models.value(0, i));
        EXPECT_EQ(source.values[i],
                  data::typeSize(rig.table()[i].typeCode) == 2 ? (v & 0xFFFFu) : v)
            << i;
    }
    EXPECT_TRUE(drive::sourceFromModel(rig.service, models, models.count()).name.empty());

    // Against the factory values a fresh drive shows no difference.
    rig.connect();
    const drive::Comparison c = rig.compare.compare(drive::sourceFromFactory(rig.service));
    ASSERT_TRUE(c.result.ok()) << c.result.cause();
    EXPECT_EQ(c.differences(), 0u);
    rig.session.disconnect();
    EXPECT_EQ(rig.compare.compare(drive::sourceFromFactory(rig.service)).result.error,
              Error::notConnected);
}

TEST(ParameterCompare, AReportThatCannotBeSavedNamesThePathAndTheReason) {
    testsupport::TempDir dir;
    const fs::path path = dir.path() / "report.txt";
    ASSERT_TRUE(drive::saveReport(path, "line\r\n").ok());
    EXPECT_EQ(platform::readWholeFile(path),
              (std::vector<std::uint8_t>{'l', 'i', 'n', 'e', '\r', '\n'}));
    const fs::path nowhere = dir.path() / "no such folder" / "report.txt";
    const drive::Result r = drive::saveReport(nowhere, "x");
    EXPECT_EQ(r.error, Error::fileError);
    EXPECT_NE(r.cause().find("no such folder"), std::string::npos) << r.cause();
    EXPECT_NE(r.cause().find("No such file or directory"), std::string::npos) << r.cause();
}

}  // namespace
