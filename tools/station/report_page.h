#pragma once
// The quality engineer's report as one self-contained HTML page: inline CSS and inline SVG
// charts, no script, nothing fetched from anywhere, so it can be mailed or opened on a machine
// without a network.
//
// The page is written with QXmlStreamWriter, so every text taken from the records (a station's
// name, a reason, a serial) is text, never markup: <, > and & arrive escaped. It is well-formed
// XML as well as HTML (every element closed, no element written empty), so tests read it back
// with an XML reader. Each figure sits in an element that says what it is: the yield table's rows
// carry data-station, their cells the classes units, first-pass, final, retests and runs; the
// reasons' rows the class reason; the fixtures' rows data-station and data-fixture (and the class
// marked); the throughput's best and median hours the ids best-hour and median-hour; the run
// times' rows the class run-time.
//
// Times are shown in local time, "2026-12-09 14:15".

#include "tools/station/report_figures.h"

#include <QByteArray>

// `title` names the records (the station file, or the database); `generated` is when the page
// was made.
QByteArray report_page(const ReportFigures& figures, const ReportPeriod& period, const QString& title,
                       const QDateTime& generated);
