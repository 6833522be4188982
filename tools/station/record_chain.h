#pragma once
// The hash chain of a station's records, which shows when a record was changed or removed after
// it was kept, or inserted among them later.
//
// Each record carries chain_seq, its number among the station's chained records (1, 2, 3 ...),
// and chain, the SHA-256 (64 lower-case hexadecimal digits) of:
//
//   the previous record's chain (for the station's first record: the station's name), then for
//   each of these fields in this order, its length in bytes in decimal, a ':' and its bytes:
//   station, unit, port, adapter, started, ended (ISO 8601 UTC with milliseconds), seconds (three
//   decimals), result, exit_status (decimal, empty when NULL), reason, uploads, answers, journal,
//   record_key, images, script_sha256, kestrin_version, station_version, serial, chain_seq.
//
// Texts are UTF-8, with every NUL written as U+FFFD (as PostgreSQL keeps it), so the chain reads
// the same from SQLite and PostgreSQL. The station computes it as it makes each record, before
// the record goes to its store (or the spool), and moves on to it only once the record is kept.
//
// ChainVerifier walks a store's records station by station in the order of their id and names
// the first one whose chain breaks: a field changed (its number is the one due, its chain not:
// the field is its own, or its predecessor's when that one's chain was made again to match),
// records removed before it (its number is beyond the one due), or a record inserted out of order
// (its number comes before the one due) or without a chain after the station's chain began.
// Records from before chains existed, at the start of a station's records, are counted apart.
// The last records of a station can be removed without a trace: nothing comes after them.

#include "tools/station/records.h"

#include <QString>

#include <map>
#include <optional>

// The chain of `record` (with its chain_seq set) after `previous`.
QString chain_of(const QString& previous, const FlashRecord& record);

// Where a station's chain stands: the next record's number and the chain it follows.
class RecordChain {
public:
    explicit RecordChain(QString station, std::optional<ChainLink> last = std::nullopt);

    // The record with its chain_seq and chain set, as the next of the station's.
    FlashRecord linked(FlashRecord record) const;
    // The record was kept: the chain moves on to it.
    void kept(const FlashRecord& record);

private:
    QString previous_;
    qint64 next_seq_ = 1;
};

struct ChainBreak {
    qint64 id = 0;
    QString station, what;
};

class ChainVerifier {
public:
    void take(const FlashRecord& record);

    int records() const { return records_; }
    int stations() const { return static_cast<int>(stations_.size()); }
    int unchained() const { return unchained_; }
    const std::optional<ChainBreak>& broken() const { return broken_; }
    // "12 records of 2 stations: intact", or the first break.
    QString verdict() const;

private:
    struct Station {
        QString previous;
        qint64 next_seq = 1;
    };

    std::map<QString, Station> stations_;
    int records_ = 0, unchained_ = 0;
    std::optional<ChainBreak> broken_;
};
