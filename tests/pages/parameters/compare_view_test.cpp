// The compare view on the headless backend against servo-sim: the source
// choice, the highlight and filter, the check boxes, the confirmation and the
// report, with the drive's side read from the simulator's request log.
#include "pages/parameters/compare_view.h"

#include <gtest/gtest.h>

#include <memory>

#include "data/value_file.h"
#include "parameter_fixture.h"

namespace {

using namespace paramtest;
using pages::CompareView;

struct CompareRig {
    ui::HeadlessBackend backend;
    Program program{sampleLanguage()};
    drive::ParameterService service{program.session, program.language.parameters()};
    std::unique_ptr<CompareView> view;
    TempDir dir;

    ~CompareRig() {
        if (view && view->exists()) view->destroy();
    }
    data::ParameterTable& table() { return program.language.parameters(); }
    CompareView& open() {
        view = std::make_unique<CompareView>(program.context, service);
        EXPECT_TRUE(view->createModeless());
        settle();
        return *view;
    }
    void settle() {
        ASSERT_TRUE(testsupport::pumpUntil(backend, [this] { return !view->busy(); }))
            << "the job did not end";
    }
    ui::Control& list() { return view->control(CompareView::kList); }
    std::vector<int> highlighted() {
        std::vector<int> out;
        for (int r = 0; r < list().rowCount(); ++r)
            if (list().isRowHighlighted(r)) out.push_back(r);
        return out;
    }
    // A .dat of the factory values but for these parameters (factory + 1).
    std::u16string fileDiffering(const std::vector<std::size_t>& changed) {
        std::vector<data::ParameterDefinition> copy(table().size());
        for (std::size_t i = 0; i < table().size(); ++i)
            copy[i].driveValue.store(table()[i].factoryValue);
        for (std::size_t i : changed) copy[i].driveValue.store(table()[i].factoryValue + 1);
        const fs::path path = dir.path() / "drive.dat";
        EXPECT_EQ(data::saveValueFile(path, copy), 1);
        return platform::fromUtf8(path.string());
    }
};

std::vector<std::size_t> adjustable(const data::ParameterTable& t) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < t.size(); ++i)
        if (t[i].writable() &&
            data::checkRange(t[i].typeCode, t[i].factoryValue + 1, t[i].minimum, t[i].maximum) == 0)
            out.push_back(i);
    return out;
}

class CompareViewOnADrive : public ::testing::Test {
  protected:
    void SetUp() override { sim.exportAsCom(1); }
    testsupport::SimProcess sim{{"--no-pace"}};
};

TEST_F(CompareViewOnADrive, FilterChecksConfirmationWriteAndReport) {
    CompareRig rig;
    rig.program.connect();
    const std::vector<std::size_t> a = adjustable(rig.table());
    const std::vector<std::size_t> changed{a.at(1), a.at(4), a.at(9)};
    CompareView& view = rig.open();

    // Opened on a healthy link it compares with the factory values at once.
    ASSERT_EQ(view.comparison().rows.size(), rig.table().size());
    EXPECT_EQ(view.comparison().differences(), 0u);
    EXPECT_EQ(rig.list().rowCount(), static_cast<int>(rig.table().size()));
    EXPECT_TRUE(rig.highlighted().empty());
    EXPECT_FALSE(view.control(CompareView::kWriteButton).isEnabled());

    rig.backend.queueFileAnswer(rig.fileDiffering(changed));
    ASSERT_TRUE(view.userSelectItem(CompareView::kSourceCombo, CompareView::kFileSource));
    rig.settle();
    EXPECT_EQ(view.comparison().differences(), 3u);
    EXPECT_EQ(rig.highlighted(), (std::vector<int>{view.rowOf(changed[0]), view.rowOf(changed[1]),
                                                   view.rowOf(changed[2])}));
    const int row = view.rowOf(changed[1]);
    const data::ParameterDefinition& p = rig.table()[changed[1]];
    EXPECT_EQ(rig.list().cellText(row, CompareView::kDriveColumn),
              data::valueToText(p.typeCode, p.factoryValue));
    EXPECT_EQ(rig.list().cellText(row, CompareView::kSourceColumn),
              data::valueToText(p.typeCode, p.factoryValue + 1));
    EXPECT_EQ(rig.list().cellText(row, CompareView::kUnitColumn), p.unit.str());

    // A read-only row cannot be checked.
    std::size_t readOnly = 0;
    while (rig.table()[readOnly].writable()) ++readOnly;
    ASSERT_TRUE(view.userCheckRow(CompareView::kList, view.rowOf(readOnly), true));
    EXPECT_FALSE(rig.list().isRowChecked(view.rowOf(readOnly)));
    EXPECT_EQ(view.checkedCount(), 0u);
    EXPECT_NE(view.text(CompareView::kSummary).find(u"read-only"), std::u16string::npos);

    // Only the differences, in table order; the checks outlive the filter.
    ASSERT_TRUE(view.userClick(CompareView::kOnlyDifferences));
    ASSERT_EQ(rig.list().rowCount(), 3);
    for (int r = 0; r < 3; ++r)
        EXPECT_EQ(rig.list().cellText(r, CompareView::kNumberColumn),
                  rig.table()[changed[static_cast<std::size_t>(r)]].numberText.str());
    ASSERT_TRUE(view.userCheckRow(CompareView::kList, 0, true));
    ASSERT_TRUE(view.userCheckRow(CompareView::kList, 2, true));
    ASSERT_TRUE(view.userClick(CompareView::kOnlyDifferences));
    EXPECT_EQ(rig.list().rowCount(), static_cast<int>(rig.table().size()));
    EXPECT_TRUE(rig.list().isRowChecked(view.rowOf(changed[0])));
    EXPECT_FALSE(rig.list().isRowChecked(view.rowOf(changed[1])));
    EXPECT_TRUE(rig.list().isRowChecked(view.rowOf(changed[2])));
    EXPECT_EQ(view.checkedCount(), 2u);
    EXPECT_TRUE(view.control(CompareView::kWriteButton).isEnabled());

    // The confirmation states the count; Cancel writes nothing.
    sim.ok("log on");
    std::u16string asked;
    rig.backend.queueModalScript(resources::kCompareConfirmDialog, [&](ui::Dialog& d) {
        asked = d.text(CompareView::kConfirmText);
        d.userClick(ui::kIdCancel);
    });
    ASSERT_TRUE(view.userClick(CompareView::kWriteButton));
    EXPECT_NE(asked.find(u"Write the 2 checked parameters"), std::u16string::npos);
    EXPECT_FALSE(view.busy());
    EXPECT_TRUE(withFunction(requests(sim), "06").empty());

    rig.backend.queueModalScript(resources::kCompareConfirmDialog,
                                 [](ui::Dialog& d) { d.userClick(ui::kIdOk); });
    ASSERT_TRUE(view.userClick(CompareView::kWriteButton));
    rig.settle();
    const std::vector<std::string> writes = withFunction(requests(sim), "06");
    ASSERT_EQ(writes.size(), 2u);
    char first[8];
    std::snprintf(first, sizeof first, "%04X", rig.table()[changed[0]].address);
    EXPECT_EQ(writes[0].substr(4, 4), first);
    EXPECT_EQ(simParam(sim, changed[0]), rig.table()[changed[0]].factoryValue + 1);
    EXPECT_EQ(simParam(sim, changed[1]), rig.table()[changed[1]].factoryValue);
    ASSERT_TRUE(view.report().has_value());
    EXPECT_TRUE(view.report()->ok());
    EXPECT_NE(view.text(CompareView::kReport).find(u"2 verified, 0 refused"), std::u16string::npos);
    // The list shows the drive after the write; the verified ones are unchecked.
    EXPECT_EQ(view.comparison().differences(), 1u);
    EXPECT_EQ(view.checkedCount(), 0u);
    EXPECT_TRUE(rig.backend.messages().empty());

    // The report as a file; a folder that does not exist is named with the reason.
    const fs::path saved = rig.dir.path() / "report.txt";
    rig.backend.queueFileAnswer(platform::fromUtf8(saved.string()));
    ASSERT_TRUE(view.userClick(CompareView::kSaveReport));
    const std::vector<std::uint8_t> bytes = readBytes(saved);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), view.reportText());
    rig.backend.queueFileAnswer(u"/no/such/folder/report.txt");
    ASSERT_TRUE(view.userClick(CompareView::kSaveReport));
    ASSERT_EQ(rig.backend.messages().size(), 1u);
    EXPECT_NE(rig.backend.messages()[0].text.find(u"/no/such/folder/report.txt"),
              std::u16string::npos);
    EXPECT_EQ(rig.backend.messages()[0].icon, Icon::Error);
}

TEST_F(CompareViewOnADrive, NoLinkOrNothingCheckedAsksNothingOfTheDrive) {
    CompareRig rig;
    CompareView& view = rig.open();
    // Not connected: no read at open, and "Read and compare" says why.
    EXPECT_TRUE(view.comparison().rows.empty());
    ASSERT_TRUE(view.userClick(CompareView::kCompareButton));
    EXPECT_FALSE(view.busy());
    ASSERT_EQ(rig.backend.messages().size(), 1u);
    rig.backend.clearMessages();
    // Nothing to check before a comparison; nothing to write without a check.
    ASSERT_TRUE(view.userCheckRow(CompareView::kList, 0, true));
    EXPECT_FALSE(rig.list().isRowChecked(0));
    rig.program.connect();
    ASSERT_TRUE(view.userClick(CompareView::kCompareButton));
    rig.settle();
    EXPECT_EQ(view.comparison().differences(), 0u);
    EXPECT_FALSE(view.control(CompareView::kWriteButton).isEnabled());
    EXPECT_FALSE(view.userClick(CompareView::kWriteButton));
    EXPECT_TRUE(rig.backend.modalRuns().empty());
    EXPECT_TRUE(rig.backend.messages().empty());
}

TEST_F(CompareViewOnADrive, ThePageOpensTheViewWhichClosesOnlyOnceItsReadHasStopped) {
    Rig rig(sampleLanguage());
    ParameterPage& page = rig.open();
    rig.program.connect();
    bool stillOpen = false;
    bool closed = false;
    rig.backend.queueModalScript(resources::kCompareDialog, [&](ui::Dialog& d) {
        auto& view = static_cast<CompareView&>(d);
        // Opened on a healthy link, it is reading; the close box stops the
        // read and the window goes when the job has ended.
        EXPECT_TRUE(view.busy());
        view.userClose();
        stillOpen = !view.modalEnded();
        closed = testsupport::pumpUntil(rig.backend, [&] { return view.modalEnded(); });
    });
    ASSERT_TRUE(page.userClick(ParameterPage::kCompareButton));
    EXPECT_EQ(rig.backend.modalRuns(), std::vector<int>{resources::kCompareDialog});
    EXPECT_TRUE(stillOpen);
    EXPECT_TRUE(closed);
    EXPECT_FALSE(rig.program.jobs.busy());
    EXPECT_TRUE(rig.messages().empty());
}

}  // namespace
