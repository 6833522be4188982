#pragma once
// The station without a window: runs the given units once and reports on standard output. With
// start=when_present it arms their fixtures instead and runs until SIGINT or SIGTERM (or until
// --cycles runs have ended), starting each unit as it is put on ("A1 present") and re-arming
// its fixture once it has been taken off ("A1 removed").
//
// One line per change of a unit's state ("A1 running", "A1 uploading demo-image.bin
// 12288/32768", "A1 pass 9.4 s", "A2 fail: Error! ..."). While an image streams, a unit's
// progress line is printed when its upload begins, at most once a second after that, and when
// the image is all sent; every other change is printed as it happens. While records cannot
// reach their database: "records: not sent: REASON" for each new reason, and "records: 3 waiting
// for the database" whenever that count changes, until "records: all in the database". At the
// end, once the last records were sent or failed to be: a table of the units that ran, the
// totals, where the records and the journals are, how many records still wait for the database
// and where they are kept, and the runs whose record or journal could not be written. Runs that a
// station which ended had left unrecorded, recorded as this one was made, are said first.
//
// SIGINT, SIGTERM or SIGHUP stops the units ("stopping: SIGINT"); each fails with "stopped:
// SIGINT" and is recorded, and a second signal meanwhile changes nothing. A run whose record or
// journal file could not be kept reads "pass, not recorded" in the table.
//
// Returns the exit status: 0 when every unit passed and everything was kept, 1 otherwise (and
// after a stop, when the units run once; with start=when_present a stop that finds no unit
// running ends well). Runs its own event loop on the calling thread until the last unit has
// ended.

#include "tools/station/station.h"

#include <cstdio>
#include <optional>
#include <vector>

struct HeadlessRun {
    std::vector<int> rows;     // the units that run (or whose fixtures are armed)
    std::optional<int> cycles{}; // start=when_present: end after this many runs
};

int run_headless(Station& station, const HeadlessRun& run, std::FILE* out);
