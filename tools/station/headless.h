#pragma once
// The station without a window: runs the given units once and reports on standard output.
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
// always after a stop). Runs its own event loop on the calling thread until the last unit has
// ended.

#include "tools/station/station.h"

#include <cstdio>
#include <vector>

int run_headless(Station& station, const std::vector<int>& rows, std::FILE* out);
