// The report over records in SQLite with known answers (report_records.h), an empty period, the
// forms of reasons and the dates of a period.

#include "report_records.h"
#include "tests/support/temp_dir.h"
#include "tools/station/report_page.h"

#include <gtest/gtest.h>

TEST(Report, EveryFigureOfAKnownSetOfRecordsInSqlite)
{
    TempWorkDir dir;
    QString error;
    const auto store = open_record_store(dir.path("records.sqlite"), error);
    ASSERT_NE(store, nullptr) << error.toStdString();
    for (const FlashRecord& record : report_records())
        ASSERT_TRUE(store->write(record)) << store->error().toStdString();
    const auto figures = store->reportFigures(report_period());
    ASSERT_TRUE(figures) << store->error().toStdString();
    expect_known_report(report_page(*figures, report_period(), "Line A", QDateTime::currentDateTime()));

    const QDateTime later = report_period_start().addDays(30);
    const auto none = store->reportFigures({.since = later, .until = std::nullopt});
    ASSERT_TRUE(none) << store->error().toStdString();
    const ReportPageRead empty = read_report_page(report_page(*none, {.since = later}, "Line A", later));
    EXPECT_TRUE(empty.well_formed);
    EXPECT_EQ(empty.by_id.at("empty"), "No flash was recorded in this period.");
}

TEST(Report, ReasonFormsAndPeriodDates)
{
    const std::vector<std::pair<QString, QString>> forms = {
        {"Error! Unable to read all 2000 bytes of file a.bin. Cancel upload.",
         "Error! Unable to read all N bytes of file FILE. Cancel upload."},
        {"no such device: /dev/serial/by-path/pci-0000:00:14.0-usb-0:1.1:1.0-port0", "no such device: FILE"},
        {"Error opening file my image.bin for read.", "Error opening file my FILE for read."},
        {"Error! Unable to get response from unit(_WP)! Exiting script",
         "Error! Unable to get response from unit(_WP)! Exiting script"},
        {"kestrin crashed: Version 2.03 (exit status 11)", "kestrin crashed: Version N.N (exit status N)"},
        {kMarkupReason, "<script>alert(N)</script> & co"},
    };
    for (const auto& [reason, form] : forms)
        EXPECT_EQ(reason_form(reason), form) << reason.toStdString();

    QString error;
    EXPECT_EQ(parse_report_time("2026-12-01", error)->toString(Qt::ISODate).left(16), "2026-12-01T00:00");
    EXPECT_EQ(parse_report_time("2026-12-01T08:00", error)->time(), QTime(8, 0));
    for (const QString bad : {"2026-13-01", "1.12.2026", "2026-12-01 08:00", "yesterday", ""}) {
        EXPECT_FALSE(parse_report_time(bad, error)) << bad.toStdString();
        EXPECT_EQ(error, "'" + bad + "' is no time: write 2026-12-01 or 2026-12-01T08:00 (local time)");
    }
}
