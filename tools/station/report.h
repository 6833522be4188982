#pragma once
// The report of a station file's records, written to a file: the figures from wherever the
// records live (the station's SQLite file, or its PostgreSQL database with every station's
// records), and the page (report_page.h).
//
// write_report() opens a connection of its own on the calling thread, so the window runs it off
// its interface thread. The file is replaced only once the whole page is written (QSaveFile).

#include "tools/station/report_figures.h"
#include "tools/station/station_file.h"

#include <QString>

// True once the report is in `path`; otherwise false and the message in `error`, `unreadable`
// telling a records database that cannot be read from a file that cannot be written.
bool write_report(const StationSettings& settings, const ReportPeriod& period, const QString& path, QString& error,
                  bool& unreadable);
