// The station window on the offscreen platform: the table's rows, colours and totals after a
// run, Run failed again, and a unit's journal on double-click.

#include "fake_station.h"
#include "tools/station/station_window.h"

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <map>

namespace {

QString cell(const StationWindow& window, int row, int column, int role = Qt::DisplayRole)
{
    return window.model()->index(row, column).data(role).toString();
}

QPushButton* button(const StationWindow& window, const QString& text)
{
    for (QPushButton* b : window.findChildren<QPushButton*>())
        if (b->text() == text)
            return b;
    return nullptr;
}

} // namespace

TEST(StationWindow, RowsColoursAndTotalsFollowTheRuns)
{
    FakeStation fake;
    StationWindow window([](const std::string&, QString&) { return std::unique_ptr<Station>(); });
    auto made = fake.make({{"A1", "pass"}, {"A2", "fail"}, {"A3", ""}}, 16, 60);
    made->setWarnings({"records: the connection to db is not encrypted", "records: runs can be read by other users"});
    window.setStation(std::move(made));
    window.show();
    EXPECT_EQ(window.warningText(), "records: the connection to db is not encrypted (and 1 more)");
    Station& station = *window.station();
    ASSERT_TRUE(run_until_idle(station, [&] { QTest::mouseClick(button(window, "&Start"), Qt::LeftButton); }));
    window.model()->refresh();

    using M = UnitTableModel;
    EXPECT_EQ(window.model()->rowCount(), 3);
    EXPECT_EQ(cell(window, 0, M::UnitColumn), "A1");
    EXPECT_EQ(cell(window, 0, M::PortColumn).toStdString(), fake.device("A1"));
    EXPECT_EQ(cell(window, 0, M::ProgressColumn), "4000/4000");
    EXPECT_EQ(window.model()->index(0, M::ProgressColumn).data(M::ProgressRole).toDouble(), 1.0);
    EXPECT_EQ(cell(window, 0, M::ResultColumn), "PASS");
    EXPECT_EQ(cell(window, 1, M::StateColumn), "Error! Unit \"A\" refused, twice");
    EXPECT_EQ(cell(window, 1, M::ResultColumn), "FAIL");
    EXPECT_EQ(cell(window, 2, M::StateColumn).toStdString(), "no such device: " + fake.device("A3"));
    EXPECT_FALSE(window.model()->index(2, M::ProgressColumn).data(M::ProgressRole).isValid());
    const QColor green = window.model()->index(0, M::UnitColumn).data(Qt::BackgroundRole).value<QColor>();
    const QColor red = window.model()->index(1, M::TimeColumn).data(Qt::BackgroundRole).value<QColor>();
    EXPECT_GT(green.green(), green.red());
    EXPECT_GT(red.red(), red.green());
    EXPECT_EQ(window.model()->index(2, M::PortColumn).data(Qt::BackgroundRole).value<QColor>(), red);
    const QFont result_font = window.model()->index(0, M::ResultColumn).data(Qt::FontRole).value<QFont>();
    EXPECT_TRUE(result_font.bold());
    EXPECT_GE(result_font.pointSizeF(), 2 * QApplication::font().pointSizeF());
    EXPECT_EQ(window.totalsText(), "1 passed, 2 failed, 0 running");

    fake.setMode("A2", "pass");
    ASSERT_TRUE(run_until_idle(station, [&] { QTest::mouseClick(button(window, "Run &failed again"), Qt::LeftButton); }));
    window.model()->refresh();
    EXPECT_EQ(cell(window, 1, M::ResultColumn), "PASS");
    EXPECT_EQ(cell(window, 2, M::ResultColumn), "FAIL");
    EXPECT_EQ(window.totalsText(), "2 passed, 1 failed, 0 running");

    const QRect a2 = window.table()->visualRect(window.model()->index(1, M::UnitColumn));
    QTest::mouseClick(window.table()->viewport(), Qt::LeftButton, {}, a2.center());
    QTest::mouseDClick(window.table()->viewport(), Qt::LeftButton, {}, a2.center());
    QDialog* journal = window.findChild<QDialog*>();
    ASSERT_NE(journal, nullptr);
    EXPECT_EQ(journal->windowTitle(), "Journal of A2");
    EXPECT_EQ(journal->findChild<QPlainTextEdit*>()->toPlainText().toStdString(), station.unit(1).journal());
    EXPECT_TRUE(station.unit(1).journal().ends_with("result: pass\n"));
}

namespace {

// Records in an SQLite file, but the second write fails, as on a disk that has just filled up.
class SecondWriteFails : public RecordStore {
public:
    explicit SecondWriteFails(std::unique_ptr<RecordStore> store) : store_(std::move(store)) {}
    bool write(const FlashRecord& record) override { return ++writes_ != 2 && store_->write(record); }
    std::optional<std::vector<FlashRecord>> readAll() override { return store_->readAll(); }
    std::optional<ReportFigures> reportFigures(const ReportPeriod& period) override
    {
        return store_->reportFigures(period);
    }
    bool eachRecord(const std::function<void(const FlashRecord&)>& take) override { return store_->eachRecord(take); }
    std::optional<ChainLink> lastChain(const QString& station) override { return store_->lastChain(station); }
    QString error() const override { return writes_ == 2 ? "database or disk is full" : store_->error(); }

private:
    std::unique_ptr<RecordStore> store_;
    int writes_ = 0;
};

} // namespace

// A run whose record could not be kept is never shown as a plain PASS, and the station's next
// start records it with what it ended as.
TEST(StationWindow, ARecordThatCouldNotBeKeptReadsNotRecordedAndIsKeptAtTheNextStart)
{
    FakeStation fake;
    QString error;
    auto failing = std::make_unique<SecondWriteFails>(open_record_store(fake.folder() + "/records.sqlite", error));
    StationWindow window([](const std::string&, QString&) { return std::unique_ptr<Station>(); });
    window.setStation(fake.make({{"A1", "pass"}, {"A2", "pass"}, {"A3", "pass"}}, 1, 60, std::move(failing)));
    Station& station = *window.station();
    ASSERT_TRUE(run_until_idle(station, [&] { station.startAll(); }));
    window.model()->refresh();

    using M = UnitTableModel;
    EXPECT_EQ(cell(window, 0, M::ResultColumn), "PASS");
    EXPECT_EQ(cell(window, 1, M::ResultColumn), "PASS, not recorded");
    EXPECT_EQ(cell(window, 1, M::ResultColumn, Qt::ToolTipRole), "the record: database or disk is full");
    EXPECT_NE(window.model()->index(1, M::UnitColumn).data(Qt::BackgroundRole),
              window.model()->index(0, M::UnitColumn).data(Qt::BackgroundRole));
    EXPECT_EQ(cell(window, 2, M::ResultColumn), "PASS");
    EXPECT_EQ(station.keepFailures(), 1);
    EXPECT_EQ(window.keepText(), "1 not recorded: the record: database or disk is full");

    const std::string journal = station.unit(1).journal();
    const QString key = station.unit(1).recordKey();
    window.setStation(nullptr);
    const auto ledger = RunLedger::open(QString::fromStdString(fake.folder() + "/bench.station.sqlite"), error);
    const auto records = open_record_store(fake.folder() + "/records.sqlite", error);
    ASSERT_TRUE(ledger && records) << error.toStdString();
    EXPECT_EQ(record_leftover_runs(*ledger, *records, "9.99", "LF", error), 1) << error.toStdString();
    const auto all = records->readAll().value();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all.back().unit, "A2");
    EXPECT_EQ(all.back().key, key);
    EXPECT_TRUE(all.back().passed);
    EXPECT_EQ(all.back().exit_status, 0);
    EXPECT_EQ(all.back().journal.toStdString(), journal);
    EXPECT_EQ(all.back().station_version, "9.99");
    EXPECT_EQ(record_leftover_runs(*ledger, *records, "9.99", "LF", error), 0);
}

// A stop signal, or the window closed while units run: the units stop, each is recorded with what
// stopped it, and only then does the program end, with status 1.
TEST(StationWindow, StopAndQuitEndsTheProgramOnceEveryUnitIsRecorded)
{
    FakeStation fake;
    StationWindow window([](const std::string&, QString&) { return std::unique_ptr<Station>(); });
    window.setStation(fake.make({{"H1", "hang"}, {"H2", "hang"}, {"W1", "pass"}}, 2, 600));
    Station& station = *window.station();
    station.startAll();
    while (!station.unit(1).isActive()) // the units start one by one, each from the event loop
        QCoreApplication::processEvents();
    ASSERT_TRUE(station.unit(0).isActive());
    // The program's own event loop, as main() runs it: the application's exit ends it, and later
    // tests' loops run again once it has returned.
    QTimer::singleShot(0, &window, [&] { window.stopAndQuit("stopped: the window was closed"); });
    EXPECT_EQ(QCoreApplication::exec(), 1);
    EXPECT_FALSE(station.busy());
    QString error;
    const auto records = open_record_store(fake.folder() + "/records.sqlite", error)->readAll().value();
    ASSERT_EQ(records.size(), 2u); // W1 was waiting for its turn and never started
    for (const FlashRecord& r : records)
        EXPECT_EQ(r.reason, "stopped: the window was closed") << r.unit.toStdString();
    EXPECT_EQ(station.unit(2).state(), UnitState::Idle);
}

// The scan field's rule: a serial goes to the selected fixture, else to the first one without a
// serial; one that is no serial, or is another fixture's already, is refused with the reason; a
// run takes its fixture's serial into its record, and the fixture has none after it.
TEST(StationWindow, AScannedSerialGoesToItsFixtureAndIntoTheRecord)
{
    FakeStation fake;
    StationWindow window([](const std::string&, QString&) { return std::unique_ptr<Station>(); });
    window.setStation(fake.make({{"A1", "pass"}, {"A2", "pass"}, {"A3", "pass"}}, 16, 60));
    window.show();
    Station& station = *window.station();
    QLineEdit* scan = window.findChild<QLineEdit*>();
    ASSERT_NE(scan, nullptr);
    const auto scanned = [&](const QString& text) {
        QTest::keyClicks(scan, text);
        QTest::keyClick(scan, Qt::Key_Return);
        return window.scanMessage();
    };
    using M = UnitTableModel;
    EXPECT_EQ(scanned("SN-0001"), "");
    EXPECT_EQ(cell(window, 0, M::SerialColumn), "SN-0001");
    EXPECT_EQ(scan->text(), "");
    window.table()->selectRow(2);
    EXPECT_EQ(scanned("SN-0003"), "");
    EXPECT_EQ(cell(window, 2, M::SerialColumn), "SN-0003");
    window.table()->clearSelection();
    EXPECT_EQ(scanned("SN-0003"), "SN-0003: SN-0003 is the serial of the unit on A3 already");
    EXPECT_EQ(scanned(QString(65, 'x')),
              QString(65, 'x') + ": a serial has at most 64 characters; this one has 65");
    EXPECT_EQ(serial_problem("SN\t1"), "a serial holds printable ASCII characters only; character 3 is not one");
    EXPECT_EQ(serial_problem(QString(64, 'x')), std::nullopt);
    EXPECT_EQ(scanned("SN-0002"), "");
    EXPECT_EQ(cell(window, 1, M::SerialColumn), "SN-0002");
    EXPECT_EQ(scanned("SN-0004"), "SN-0004: no fixture waits for a serial");

    ASSERT_TRUE(run_until_idle(station, [&] { station.startAll(); }));
    window.model()->refresh();
    EXPECT_EQ(station.serialOf(0), "");
    EXPECT_EQ(cell(window, 0, M::SerialColumn), "SN-0001"); // the last run's
    QString error;
    std::map<QString, QString> serials;
    const auto records = open_record_store(fake.folder() + "/records.sqlite", error)->readAll().value();
    for (const FlashRecord& r : records)
        serials[r.unit] = r.serial;
    EXPECT_EQ(serials, (std::map<QString, QString>{{"A1", "SN-0001"}, {"A2", "SN-0002"}, {"A3", "SN-0003"}}));
}
