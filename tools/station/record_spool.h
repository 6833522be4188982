#pragma once
// The spooled record store: a station's records on their way to a PostgreSQL database, none lost
// while the database is away.
//
// write() commits the record to the spool, an SQLite file of the station's own, and returns; the
// spool's table `spool` has the columns of a record table (see record_sql.h) and `sent`, the UTC
// time at which the database confirmed the record, NULL while it waits. A thread of the store,
// with its own connections to the spool and to the database, sends what waits oldest first, up
// to 100 records per transaction, and marks them sent as soon as the database has confirmed
// that transaction. When the database cannot be reached or refuses, the records wait in the
// spool and the thread tries again after 1 s, then 2, 4 and 8 s, then every 10 s; a new record
// is sent at once unless such a retry is due. A record that the database took but whose
// confirmation was lost is sent again and left out there by its record_key. The thread also
// sends, as soon as the store opens, what an earlier run of the station left waiting.
//
// The store's own thread is never held up by the database without a bound: write() and status()
// touch only the spool; drain() waits for one attempt to send, for the ends of a headless run
// and an export, and the store's close for its sender to end: when the database hangs, the
// sender's connection is cut (its socket shut down, so that the call blocked on it returns) and
// what was not confirmed stays in the spool. The two together take at most 5 s. readAll() reads
// the database on the calling thread, for an export. statusChanged() follows every record
// written and every attempt to send.

#include "tools/station/database_url.h"
#include "tools/station/records.h"

#include <memory>

// The spooled store whose spool is the file `spool` (made when it is missing) and whose records
// go to `database`, named by `url` in messages; nothing and the message when the spool cannot be
// opened. The database is not contacted before a record waits for it.
std::unique_ptr<RecordStore> open_spooled_store(const QString& spool, const std::string& url,
                                                const DatabaseAddress& database, QString& error);
