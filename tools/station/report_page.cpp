#include "tools/station/report_page.h"

#include "tools/station/counted.h"

#include <QXmlStreamWriter>

#include <algorithm>
#include <cmath>

namespace {

constexpr const char* kStyle = R"(
body { font-family: Liberation Sans, Arial, sans-serif; color: #1d2433; margin: 0; background: #f4f6f9; }
main { max-width: 1040px; margin: 0 auto; padding: 24px 32px 48px; background: #fff; }
h1 { font-size: 28px; margin: 0 0 4px; }
h2 { font-size: 20px; margin: 36px 0 8px; border-bottom: 2px solid #d8dde6; padding-bottom: 4px; }
p.meta { color: #5a6478; margin: 2px 0; }
p.note { color: #5a6478; font-size: 13px; margin: 4px 0 10px; }
p.empty { font-size: 22px; color: #8a4b00; margin: 40px 0; }
p.headline { font-size: 17px; margin: 6px 0; }
.tiles { display: flex; gap: 16px; margin: 20px 0 8px; flex-wrap: wrap; }
.tile { flex: 1 1 150px; border-radius: 8px; padding: 12px 16px; background: #eef2f8; }
.tile .value { font-size: 34px; font-weight: bold; }
.tile .label { color: #5a6478; font-size: 14px; }
.good .value { color: #137333; } .bad .value { color: #b3261e; }
table { border-collapse: collapse; width: 100%; font-size: 14px; }
th { text-align: left; background: #eef2f8; padding: 6px 8px; }
td { padding: 5px 8px; border-bottom: 1px solid #e4e8ef; vertical-align: top; }
td.num, th.num { text-align: right; font-variant-numeric: tabular-nums; }
tr.marked td { background: #fde7e4; } tr.marked td.flag { color: #b3261e; font-weight: bold; }
code { font-size: 12px; color: #5a6478; }
svg { display: block; margin: 8px 0 12px; }
svg text { font-family: Liberation Sans, Arial, sans-serif; font-size: 12px; fill: #1d2433; }
)";

const QString kFirstPassColour = "#2f6fde";
const QString kFinalColour = "#137333";
const QString kFailureColour = "#d9534f";
const QString kLineColour = "#1d2433";

QString percent(int part, int whole)
{
    return whole == 0 ? QString("–") : QString::number(100.0 * part / whole, 'f', 1) + " %";
}

QString local_time(const QDateTime& time)
{
    return time.isValid() ? time.toLocalTime().toString("yyyy-MM-dd HH:mm") : QString("–");
}

QString seconds_text(double seconds)
{
    return QString::number(seconds, 'f', 1) + " s";
}

QString short_digest(const QString& sha256)
{
    return sha256.left(12);
}

// An image version's name: its files and the start of their digests.
QString images_label(const QString& image_lines)
{
    QStringList parts;
    for (const QString& line : image_lines.split('\n', Qt::SkipEmptyParts)) {
        const QString rest = line.mid(QString("image: ").size());
        const qsizetype blank = rest.lastIndexOf(' ');
        const qsizetype colon = rest.lastIndexOf(": ", blank);
        parts << (colon < 0 ? rest : rest.left(colon) + " " + short_digest(rest.mid(blank + 1)));
    }
    return parts.isEmpty() ? QString("no image") : parts.join(", ");
}

class Page {
public:
    explicit Page(QByteArray& out) : w_(&out) {}

    QXmlStreamWriter& w() { return w_; }

    // <name attributes...>text</name>; never written empty, which HTML would take for an opening tag.
    void element(const QString& name, const QString& text, const QXmlStreamAttributes& attributes = {})
    {
        open(name, attributes);
        w_.writeCharacters(text);
        w_.writeEndElement();
    }
    void open(const QString& name, const QXmlStreamAttributes& attributes = {})
    {
        w_.writeStartElement(name);
        w_.writeAttributes(attributes);
    }
    void close() { w_.writeEndElement(); }
    void cell(const QString& text, const QString& css_class = {})
    {
        element("td", text, css_class.isEmpty() ? QXmlStreamAttributes() : attributes({{"class", css_class}}));
    }
    // The column titles; those from `first_number` to `last_number` head numbers, right-aligned.
    void header(const QStringList& titles, qsizetype first_number, qsizetype last_number = 99)
    {
        open("tr");
        for (qsizetype i = 0; i < titles.size(); ++i)
            element("th", titles[i],
                    i >= first_number && i <= last_number ? attributes({{"class", "num"}}) : QXmlStreamAttributes());
        close();
    }

    static QXmlStreamAttributes attributes(std::initializer_list<std::pair<QString, QString>> pairs)
    {
        QXmlStreamAttributes list;
        for (const auto& [name, value] : pairs)
            list.append(name, value);
        return list;
    }

    // SVG shapes.
    void rect(double x, double y, double width, double height, const QString& fill, const QString& title = {})
    {
        open("rect", attributes({{"x", number(x)}, {"y", number(y)}, {"width", number(std::max(0.0, width))},
                                 {"height", number(height)}, {"fill", fill}}));
        if (!title.isEmpty())
            element("title", title);
        else
            w_.writeCharacters("");
        close();
    }
    void text(double x, double y, const QString& content, const QString& anchor = "start", const QString& extra = {})
    {
        QXmlStreamAttributes list = attributes({{"x", number(x)}, {"y", number(y)}, {"text-anchor", anchor}});
        if (!extra.isEmpty())
            list.append("font-weight", extra);
        element("text", content, list);
    }
    void line(double x1, double y1, double x2, double y2, const QString& stroke, const QString& dash = {})
    {
        QXmlStreamAttributes list = attributes({{"x1", number(x1)}, {"y1", number(y1)}, {"x2", number(x2)},
                                                {"y2", number(y2)}, {"stroke", stroke}, {"stroke-width", "1.5"}});
        if (!dash.isEmpty())
            list.append("stroke-dasharray", dash);
        open("line", list);
        w_.writeCharacters("");
        close();
    }
    void openSvg(double width, double height, const QString& label)
    {
        open("svg", attributes({{"xmlns", "http://www.w3.org/2000/svg"}, {"width", number(width)},
                                {"height", number(height)}, {"viewBox", "0 0 " + number(width) + " " + number(height)},
                                {"role", "img"}, {"aria-label", label}}));
    }

    static QString number(double value) { return QString::number(value, 'f', 1); }

private:
    QXmlStreamWriter w_;
};

void write_head(Page& page, const QString& title)
{
    page.open("head");
    page.open("meta", Page::attributes({{"charset", "utf-8"}}));
    page.w().writeCharacters("");
    page.close();
    page.element("title", title);
    page.element("style", kStyle);
    page.close();
}

void write_tile(Page& page, const QString& value, const QString& label, const QString& mood, const QString& id)
{
    page.open("div", Page::attributes({{"class", "tile " + mood}, {"id", id}}));
    page.element("div", value, Page::attributes({{"class", "value"}}));
    page.element("div", label, Page::attributes({{"class", "label"}}));
    page.close();
}

QString mood_of(int part, int whole)
{
    return whole > 0 && part * 100 >= 95 * whole ? "good" : whole > 0 ? "bad" : "";
}

void write_summary(Page& page, const ReportFigures& f)
{
    const YieldFigures& all = f.all;
    page.open("div", Page::attributes({{"class", "tiles"}}));
    write_tile(page, QString::number(all.units), "units", "", "units");
    write_tile(page, percent(all.first_pass, all.units), "first-pass yield", mood_of(all.first_pass, all.units),
               "first-pass-yield");
    write_tile(page, percent(all.final_pass, all.units), "final yield", mood_of(all.final_pass, all.units), "final-yield");
    write_tile(page, QString::number(all.retests), "retests", "", "retests");
    write_tile(page, QString::number(f.best_hour), "passed in the best hour", "", "best-hour-tile");
    page.close();
}

// What costs most and where to look, in one line each, under the tiles.
void write_headline(Page& page, const ReportFigures& f)
{
    if (!f.reasons.empty())
        page.element("p",
                     QString("Most failures: %1 (%2 of %3).")
                         .arg(f.reasons.front().form)
                         .arg(f.reasons.front().count)
                         .arg(counted(f.failures, "failed run", "failed runs")),
                     Page::attributes({{"class", "headline"}, {"id", "top-reason"}}));
    QStringList marked;
    for (const FixtureFigures& fixture : f.fixtures)
        if (fixture.marked)
            marked << fixture.station + " " + fixture.unit + " (" + percent(fixture.failures, fixture.runs) + " failed)";
    if (!marked.isEmpty())
        page.element("p", "Fixtures to check: " + marked.join(", ") + ".",
                     Page::attributes({{"class", "headline"}, {"id", "fixtures-to-check"}}));
}

void write_images(Page& page, const ReportFigures& f)
{
    page.element("h2", "Image versions flashed");
    if (f.images.empty()) {
        page.element("p", "No run measured an image.", Page::attributes({{"class", "note"}}));
        return;
    }
    page.open("table", Page::attributes({{"id", "images"}}));
    page.header({"image", "length", "SHA-256", "runs"}, 3);
    for (const ImageVersion& image : f.images) {
        page.open("tr", Page::attributes({{"class", "image"}, {"data-sha256", image.sha256}}));
        page.cell(image.file);
        page.cell(QString::number(image.length) + " bytes");
        page.open("td");
        page.element("code", image.sha256);
        page.close();
        page.cell(QString::number(image.runs), "num runs");
        page.close();
    }
    page.close();
}

// A pair of bars a station: first-pass yield and final yield, 0 to 100 %.
void write_yield_chart(Page& page, const std::vector<YieldFigures>& rows)
{
    constexpr double kLabel = 170, kBar = 520, kRow = 44;
    const double height = 24 + kRow * static_cast<double>(rows.size());
    page.openSvg(kLabel + kBar + 80, height, "Yield per station");
    page.rect(kLabel, 4, 12, 12, kFirstPassColour);
    page.text(kLabel + 16, 14, "first-pass yield");
    page.rect(kLabel + 140, 4, 12, 12, kFinalColour);
    page.text(kLabel + 156, 14, "final yield");
    double y = 24;
    for (const YieldFigures& row : rows) {
        const double first = row.units == 0 ? 0 : static_cast<double>(row.first_pass) / row.units;
        const double final = row.units == 0 ? 0 : static_cast<double>(row.final_pass) / row.units;
        page.text(kLabel - 8, y + 20, row.station.isEmpty() ? "all stations" : row.station, "end",
                  row.station.isEmpty() ? "bold" : "");
        page.rect(kLabel, y + 4, kBar * first, 16, kFirstPassColour, percent(row.first_pass, row.units));
        page.text(kLabel + kBar * first + 6, y + 17, percent(row.first_pass, row.units));
        page.rect(kLabel, y + 22, kBar * final, 16, kFinalColour, percent(row.final_pass, row.units));
        page.text(kLabel + kBar * final + 6, y + 35, percent(row.final_pass, row.units));
        y += kRow;
    }
    page.close();
}

void write_yield(Page& page, const ReportFigures& f)
{
    page.element("h2", "Yield");
    page.element("p",
                 "A unit is a serial number; a run without one is a unit of its own. First pass: units whose first "
                 "run passed. Final: units whose last run passed. Retests: runs of a unit after its first.",
                 Page::attributes({{"class", "note"}}));
    std::vector<YieldFigures> rows = f.stations;
    if (rows.size() > 1)
        rows.push_back(f.all);
    write_yield_chart(page, rows);
    page.open("table", Page::attributes({{"id", "yield"}}));
    page.header({"station", "units", "first-pass yield", "final yield", "retests", "runs"}, 1);
    for (const YieldFigures& row : rows) {
        page.open("tr", Page::attributes({{"data-station", row.station.isEmpty() ? "*" : row.station}}));
        page.cell(row.station.isEmpty() ? "all stations" : row.station);
        page.cell(QString::number(row.units), "num units");
        page.cell(percent(row.first_pass, row.units), "num first-pass");
        page.cell(percent(row.final_pass, row.units), "num final");
        page.cell(QString::number(row.retests), "num retests");
        page.cell(QString::number(row.runs), "num runs");
        page.close();
    }
    page.close();
}

// Bars of the counts, largest first, and the cumulative share as a line over them.
void write_pareto_chart(Page& page, const ReportFigures& f)
{
    constexpr double kLeft = 40, kHeight = 220, kTop = 16, kSlot = 76;
    const double kWidth = kSlot * static_cast<double>(f.reasons.size());
    const double slot = kSlot;
    const int most = f.reasons.front().count;
    page.openSvg(kLeft + kWidth + 50, kTop + kHeight + 30, "Failures by reason");
    page.line(kLeft, kTop + kHeight, kLeft + kWidth, kTop + kHeight, "#9aa3b2");
    page.text(kLeft - 6, kTop + 10, QString::number(most), "end");
    page.text(kLeft + kWidth + 6, kTop + 10, "100 %");
    QString points;
    for (std::size_t i = 0; i < f.reasons.size(); ++i) {
        const ReasonGroup& reason = f.reasons[i];
        const double x = kLeft + slot * static_cast<double>(i);
        const double bar = kHeight * reason.count / most;
        page.rect(x + 6, kTop + kHeight - bar, slot - 12, bar, kFailureColour,
                  QString("%1: %2").arg(reason.form).arg(reason.count));
        page.text(x + slot / 2, kTop + kHeight + 16, QString::number(i + 1), "middle");
        points += Page::number(x + slot / 2) + "," + Page::number(kTop + kHeight * (1 - reason.cumulative_share)) + " ";
    }
    page.open("polyline", Page::attributes({{"points", points.trimmed()}, {"fill", "none"}, {"stroke", kLineColour},
                                            {"stroke-width", "2"}}));
    page.w().writeCharacters("");
    page.close();
    page.close();
}

void write_failures(Page& page, const ReportFigures& f)
{
    page.element("h2", "Failures by reason");
    if (f.reasons.empty()) {
        page.element("p", "No run failed.", Page::attributes({{"class", "note"}}));
        return;
    }
    page.element("p",
                 QString("%1 in %2, the largest first, with their cumulative share. %3")
                     .arg(counted(f.failures, "failed run", "failed runs"))
                     .arg(counted(f.reason_groups, "group", "groups"))
                     .arg(kReasonFormRule),
                 Page::attributes({{"class", "note"}, {"id", "reason-rule"}}));
    write_pareto_chart(page, f);
    page.open("table", Page::attributes({{"id", "reasons"}}));
    page.header({"#", "reason", "runs", "cumulative", "example (the newest)"}, 2, 3);
    for (std::size_t i = 0; i < f.reasons.size(); ++i) {
        const ReasonGroup& r = f.reasons[i];
        page.open("tr", Page::attributes({{"class", "reason"}}));
        page.cell(QString::number(i + 1));
        page.cell(r.form, "form");
        page.cell(QString::number(r.count), "num count");
        page.cell(QString::number(100 * r.cumulative_share, 'f', 1) + " %", "num cumulative");
        page.cell(QString("%1 %2, serial %3, %4: %5")
                      .arg(r.example_station, r.example_unit, r.example_serial.isEmpty() ? "none" : r.example_serial,
                           local_time(r.example_time), r.example_reason),
                  "example");
        page.close();
    }
    page.close();
}

void write_fixtures(Page& page, const ReportFigures& f)
{
    page.element("h2", "By fixture");
    page.element("p", "A fixture whose failure share is above twice its station's is marked: look at its contacts.",
                 Page::attributes({{"class", "note"}}));
    page.open("table", Page::attributes({{"id", "fixtures"}}));
    page.header({"station", "fixture", "runs", "failures", "failure share", ""}, 2, 4);
    for (const FixtureFigures& fixture : f.fixtures) {
        QXmlStreamAttributes row = Page::attributes({{"data-station", fixture.station}, {"data-fixture", fixture.unit}});
        if (fixture.marked)
            row.append("class", "marked");
        page.open("tr", row);
        page.cell(fixture.station);
        page.cell(fixture.unit);
        page.cell(QString::number(fixture.runs), "num runs");
        page.cell(QString::number(fixture.failures), "num failures");
        page.cell(percent(fixture.failures, fixture.runs), "num share");
        page.cell(fixture.marked ? "above twice the station's share" : " ", "flag");
        page.close();
    }
    page.close();
}

void write_throughput_chart(Page& page, const ReportFigures& f)
{
    constexpr double kLeft = 40, kHeight = 180, kTop = 12, kWidestSlot = 48;
    const double slot = std::min(kWidestSlot, 900.0 / static_cast<double>(f.hours.size()));
    const double kWidth = slot * static_cast<double>(f.hours.size());
    const int most = std::max(1, f.best_hour);
    page.openSvg(kLeft + kWidth + 100, kTop + kHeight + 34, "Passed units per hour");
    page.line(kLeft, kTop + kHeight, kLeft + kWidth, kTop + kHeight, "#9aa3b2");
    page.text(kLeft - 6, kTop + 10, QString::number(most), "end");
    const std::size_t label_every = std::max<std::size_t>(1, f.hours.size() / 12);
    for (std::size_t i = 0; i < f.hours.size(); ++i) {
        const HourFigures& hour = f.hours[i];
        const double bar = kHeight * hour.passed / most;
        const double x = kLeft + slot * static_cast<double>(i);
        page.rect(x + std::min(2.0, slot / 4), kTop + kHeight - bar, slot - std::min(4.0, slot / 2), bar, kFinalColour,
                  QString("%1: %2 passed").arg(local_time(hour.hour)).arg(hour.passed));
        if (i % label_every == 0)
            page.text(x + slot / 2, kTop + kHeight + 16, hour.hour.toLocalTime().toString("HH:00"), "middle");
    }
    const double median_y = kTop + kHeight * (1 - f.median_hour / most);
    page.line(kLeft, median_y, kLeft + kWidth, median_y, kLineColour, "6 4");
    page.text(kLeft + kWidth + 6, median_y + 4, "median hour");
    page.close();
}

void write_throughput(Page& page, const ReportFigures& f)
{
    page.element("h2", "Throughput");
    page.open("p", Page::attributes({{"class", "note"}}));
    page.w().writeCharacters("Passed units per hour, from the hour of the first run to the hour of the last. Best hour: ");
    page.element("strong", QString::number(f.best_hour), Page::attributes({{"id", "best-hour"}}));
    page.w().writeCharacters("; median of the hours with a passed unit: ");
    page.element("strong", QString::number(f.median_hour, 'f', 1), Page::attributes({{"id", "median-hour"}}));
    page.w().writeCharacters(".");
    page.close();
    if (!f.hours.empty())
        write_throughput_chart(page, f);
}

void write_run_times(Page& page, const ReportFigures& f)
{
    page.element("h2", "Run time of passed runs");
    page.open("table", Page::attributes({{"id", "run-times"}}));
    page.header({"image version", "passed runs", "median", "95th percentile"}, 1);
    for (const RunTimeFigures& row : f.run_times) {
        page.open("tr", Page::attributes({{"class", "run-time"}}));
        page.cell(images_label(row.images), "version");
        page.cell(QString::number(row.runs), "num runs");
        page.cell(seconds_text(row.median_s), "num median");
        page.cell(seconds_text(row.p95_s), "num p95");
        page.close();
    }
    page.close();
}

QString period_text(const ReportPeriod& period)
{
    return QString("%1 to %2").arg(period.since ? local_time(*period.since) : QString("the first record"),
                                   period.until ? local_time(*period.until) : QString("the last record"));
}

} // namespace

QByteArray report_page(const ReportFigures& f, const ReportPeriod& period, const QString& title,
                       const QDateTime& generated)
{
    QByteArray out;
    Page page(out);
    page.w().setAutoFormatting(true);
    page.w().writeDTD("<!DOCTYPE html>");
    page.open("html", Page::attributes({{"lang", "en"}}));
    write_head(page, "Line report: " + title);
    page.open("body");
    page.open("main");
    page.element("h1", "Line report: " + title);
    page.element("p", "Period: " + period_text(period) + " (local time). Records: " + QString::number(f.records) + ", " +
                          local_time(f.first) + " to " + local_time(f.last) + ".",
                 Page::attributes({{"class", "meta"}, {"id", "period"}}));
    QStringList stations;
    for (const YieldFigures& station : f.stations)
        stations << station.station;
    page.element("p", "Stations: " + (stations.isEmpty() ? QString("none") : stations.join(", ")),
                 Page::attributes({{"class", "meta"}, {"id", "stations"}}));
    page.element("p", "Made " + local_time(generated) + " by kestrin-station.", Page::attributes({{"class", "meta"}}));
    if (f.records == 0) {
        page.element("p", "No flash was recorded in this period.", Page::attributes({{"class", "empty"}, {"id", "empty"}}));
    } else {
        write_summary(page, f);
        write_headline(page, f);
        write_images(page, f);
        write_yield(page, f);
        write_failures(page, f);
        write_fixtures(page, f);
        write_throughput(page, f);
        write_run_times(page, f);
    }
    page.close();
    page.close();
    page.close();
    page.w().writeEndDocument();
    return out;
}
