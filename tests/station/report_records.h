#pragma once
// A set of records with known answers for the report, and the report page read back with an XML
// reader (never by matching strings), for the tests of the report in SQLite and in PostgreSQL.
//
// Two stations. Line A: F1 a good fixture, F2 whose unit SN3 fails twice, F3 a bad fixture (three
// failures in four runs: 75 % against its station's 33.3 %). Unit SN1 fails on F1, passes on its
// retest there, and passes again at Line B. Reasons that differ only in numbers and file names;
// one holding markup. Two image versions. One record just before the period and one after it.

#include "tools/station/records.h"
#include "tools/station/report_figures.h"

#include <QCryptographicHash>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

inline const QString kMarkupReason = "<script>alert(1)</script> & co";

inline QString image_line(const char* content)
{
    return QString("image: app.bin: 1000 ") +
           QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex() + "\n";
}

// The start of the period: 2026-12-01T08:00, local time.
inline QDateTime report_period_start()
{
    QString error;
    return parse_report_time("2026-12-01T08:00", error).value();
}

inline std::vector<FlashRecord> report_records()
{
    struct Run {
        const char* station;
        const char* unit;
        const char* serial;
        int minute;
        bool passed;
        QString reason;
        double seconds;
        const char* image;
    };
    const QString read_a = "Error! Unable to read all 2000 bytes of file a.bin. Cancel upload.";
    const QString read_b = "Error! Unable to read all 4000 bytes of file b.bin. Cancel upload.";
    const QString limit = "time limit of 900 s reached";
    const std::vector<Run> runs = {
        {"Line A", "F1", "SN1", 0, false, read_a, 10, "one"},
        {"Line A", "F1", "SN1", 10, true, "", 11, "one"},
        {"Line A", "F1", "SN2", 20, true, "", 12, "one"},
        {"Line A", "F1", "", 25, true, "", 13, "one"},
        {"Line A", "F1", "", 35, true, "", 14, "one"},
        {"Line A", "F1", "", 45, true, "", 15, "one"},
        {"Line A", "F1", "", 65, true, "", 20, "two"},
        {"Line A", "F1", "", 75, true, "", 21, "two"},
        {"Line A", "F1", "", 85, true, "", 22, "two"},
        {"Line A", "F1", "", 95, true, "", 23, "two"},
        {"Line A", "F2", "SN3", 30, false, read_b, 9, "one"},
        {"Line A", "F2", "SN3", 40, false, read_b, 9.5, "one"},
        {"Line A", "F2", "", 50, true, "", 16, "one"},
        {"Line A", "F2", "", 70, true, "", 24, "two"},
        {"Line A", "F3", "", 80, false, limit, 900, "two"},
        {"Line A", "F3", "", 90, false, limit, 900, "two"},
        {"Line A", "F3", "", 100, false, kMarkupReason, 5, "two"},
        {"Line A", "F3", "", 110, true, "", 25, "two"},
        {"Line B", "G1", "SN1", 120, true, "", 30, "two"},
        {"Line A", "F1", "SN9", -1, false, "Error! before the period", 10, "one"},
        {"Line B", "G1", "", 200, false, "Error! after the period", 10, "two"},
    };
    const QDateTime start = report_period_start();
    std::vector<FlashRecord> records;
    for (const Run& run : runs) {
        const QDateTime started = start.addSecs(60 * run.minute).toUTC();
        records.push_back(FlashRecord{.station = run.station,
                                      .unit = run.unit,
                                      .started = started,
                                      .ended = started.addMSecs(static_cast<qint64>(run.seconds * 1000)),
                                      .seconds = run.seconds,
                                      .passed = run.passed,
                                      .exit_status = run.passed ? 0 : 1,
                                      .reason = run.reason,
                                      .journal = "result: pass\n",
                                      .key = new_record_key(),
                                      .images = image_line(run.image),
                                      .serial = run.serial});
    }
    return records;
}

inline ReportPeriod report_period()
{
    const QDateTime start = report_period_start();
    return {.since = start, .until = start.addSecs(3 * 3600)};
}

// What the page says: rows by the attribute that names them, their cells by class.
struct PageRow {
    std::map<QString, QString> attributes;
    std::map<QString, QString> cells;
};

struct ReportPageRead {
    std::map<QString, QString> by_id; // the text of each element with an id
    std::map<QString, std::vector<PageRow>> rows; // by the id of their table
    bool script = false;  // a <script> element
    bool fetches = false; // an element with src or href
    bool well_formed = false;
};

inline ReportPageRead read_report_page(const QByteArray& page)
{
    ReportPageRead read;
    QXmlStreamReader xml(page);
    std::vector<QString> ids;   // the open elements' ids ("" without one)
    std::vector<QString> texts; // their text so far
    QString table;
    PageRow row;
    QString cell_class;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const QXmlStreamAttributes attributes = xml.attributes();
            read.script = read.script || xml.name() == u"script";
            read.fetches = read.fetches || attributes.hasAttribute("src") || attributes.hasAttribute("href");
            ids.push_back(attributes.value("id").toString());
            texts.emplace_back();
            if (xml.name() == u"table")
                table = attributes.value("id").toString();
            if (xml.name() == u"tr") {
                row = {};
                for (const QXmlStreamAttribute& attribute : attributes)
                    row.attributes[attribute.name().toString()] = attribute.value().toString();
            }
            if (xml.name() == u"td")
                cell_class = attributes.value("class").toString().remove("num ").trimmed();
        } else if (xml.isCharacters()) {
            for (QString& text : texts)
                text += xml.text();
        } else if (xml.isEndElement()) {
            const QString text = texts.back().trimmed();
            if (!ids.back().isEmpty())
                read.by_id[ids.back()] = text;
            if (xml.name() == u"td" && !cell_class.isEmpty())
                row.cells[cell_class] = text;
            if (xml.name() == u"tr" && !row.cells.empty())
                read.rows[table].push_back(row);
            ids.pop_back();
            texts.pop_back();
        }
    }
    read.well_formed = !xml.hasError();
    return read;
}

// Every figure of the page of report_records() over report_period() against the known answers.
inline void expect_known_report(const QByteArray& page)
{
    const ReportPageRead read = read_report_page(page);
    ASSERT_TRUE(read.well_formed) << page.toStdString();
    EXPECT_FALSE(read.script);
    EXPECT_FALSE(read.fetches);
    EXPECT_TRUE(read.by_id.at("period").contains("Records: 19,")) << read.by_id.at("period").toStdString();
    EXPECT_EQ(read.by_id.at("stations"), "Stations: Line A, Line B");

    struct Yield {
        const char* station;
        const char *units, *first, *final, *retests, *runs;
    };
    // All stations: SN1 is one unit, of three runs.
    for (const Yield& y : {Yield{"Line A", "16", "68.8 %", "75.0 %", "2", "18"},
                           Yield{"Line B", "1", "100.0 %", "100.0 %", "0", "1"},
                           Yield{"*", "16", "68.8 %", "75.0 %", "3", "19"}}) {
        const auto& rows = read.rows.at("yield");
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const PageRow& r) {
            return r.attributes.at("data-station") == y.station;
        });
        ASSERT_NE(row, rows.end()) << y.station;
        EXPECT_EQ(row->cells.at("units"), y.units) << y.station;
        EXPECT_EQ(row->cells.at("first-pass"), y.first) << y.station;
        EXPECT_EQ(row->cells.at("final"), y.final) << y.station;
        EXPECT_EQ(row->cells.at("retests"), y.retests) << y.station;
        EXPECT_EQ(row->cells.at("runs"), y.runs) << y.station;
    }
    EXPECT_TRUE(read.by_id.at("first-pass-yield").startsWith("68.8 %"));

    const auto& reasons = read.rows.at("reasons");
    ASSERT_EQ(reasons.size(), 3u);
    EXPECT_EQ(reasons[0].cells.at("form"), "Error! Unable to read all N bytes of file FILE. Cancel upload.");
    EXPECT_EQ(reasons[0].cells.at("count"), "3");
    EXPECT_EQ(reasons[0].cells.at("cumulative"), "50.0 %");
    EXPECT_TRUE(reasons[0].cells.at("example").startsWith("Line A F2, serial SN3, 2026-12-01 08:40: Error! Unable to "
                                                          "read all 4000 bytes of file b.bin."))
        << reasons[0].cells.at("example").toStdString();
    EXPECT_EQ(reasons[1].cells.at("form"), "time limit of N s reached");
    EXPECT_EQ(reasons[1].cells.at("cumulative"), "83.3 %");
    EXPECT_TRUE(reasons[1].cells.at("example").startsWith("Line A F3, serial none, 2026-12-01 09:30"));
    EXPECT_EQ(reasons[2].cells.at("form"), "<script>alert(N)</script> & co"); // text, read back unescaped
    EXPECT_TRUE(reasons[2].cells.at("example").endsWith(kMarkupReason));
    EXPECT_TRUE(page.contains("&lt;script&gt;alert(1)&lt;/script&gt; &amp; co"));

    std::map<QString, std::vector<QString>> fixtures;
    for (const PageRow& r : read.rows.at("fixtures"))
        fixtures[r.attributes.at("data-station") + "/" + r.attributes.at("data-fixture")] = {
            r.cells.at("runs"), r.cells.at("failures"), r.cells.at("share"),
            r.attributes.contains("class") ? r.attributes.at("class") : ""};
    EXPECT_EQ(fixtures, (std::map<QString, std::vector<QString>>{{"Line A/F1", {"10", "1", "10.0 %", ""}},
                                                                 {"Line A/F2", {"4", "2", "50.0 %", ""}},
                                                                 {"Line A/F3", {"4", "3", "75.0 %", "marked"}},
                                                                 {"Line B/G1", {"1", "0", "0.0 %", ""}}}));

    // Passed runs by hour: 6, 6 and 1.
    EXPECT_EQ(read.by_id.at("best-hour"), "6");
    EXPECT_EQ(read.by_id.at("median-hour"), "6.0");

    const auto& times = read.rows.at("run-times");
    ASSERT_EQ(times.size(), 2u);
    EXPECT_EQ(times[0].cells.at("runs"), "7");
    EXPECT_EQ(times[0].cells.at("median"), "23.0 s");
    EXPECT_EQ(times[0].cells.at("p95"), "30.0 s");
    EXPECT_EQ(times[1].cells.at("runs"), "6");
    EXPECT_EQ(times[1].cells.at("median"), "13.0 s");
    EXPECT_EQ(times[1].cells.at("p95"), "16.0 s");

    std::map<QString, QString> images;
    for (const PageRow& r : read.rows.at("images"))
        images[r.attributes.at("data-sha256")] = r.cells.at("runs");
    EXPECT_EQ(images, (std::map<QString, QString>{
                          {QCryptographicHash::hash("one", QCryptographicHash::Sha256).toHex(), "9"},
                          {QCryptographicHash::hash("two", QCryptographicHash::Sha256).toHex(), "10"}}));
}
