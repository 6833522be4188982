// The chain of a station's records: its documented bytes, and what the verifier names when a
// record was changed, removed or put in among the others.

#include "tools/station/record_chain.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

FlashRecord known_record()
{
    return FlashRecord{.station = "Line A",
                       .unit = "A1",
                       .port = "/dev/ttyUSB0",
                       .started = QDateTime::fromString("2026-12-10T08:00:00.250Z", Qt::ISODateWithMs),
                       .ended = QDateTime::fromString("2026-12-10T08:00:38.500Z", Qt::ISODateWithMs),
                       .seconds = 38.25,
                       .passed = true,
                       .exit_status = 0,
                       .uploads = "fw.bin=ok",
                       .journal = "runs/A1.log",
                       .key = "0b6f2d1e-0000-4000-8000-000000000001",
                       .images = "fw.bin: 262144 ab",
                       .script_sha256 = "cd",
                       .kestrin_version = "1.0",
                       .station_version = "1.0",
                       .serial = QString("SN-") + QChar(0) + "7"};
}

// Records of two stations, chained as their stations kept them, interleaved as a shared
// database holds them: A, B, A, A, B, A.
std::vector<FlashRecord> two_stations_interleaved()
{
    RecordChain a("Line A"), b("Line B");
    std::vector<FlashRecord> records;
    for (const char* station : {"Line A", "Line B", "Line A", "Line A", "Line B", "Line A"}) {
        RecordChain& chain = QString(station) == "Line A" ? a : b;
        FlashRecord record{.station = station, .unit = "U" + QString::number(records.size()), .passed = true};
        record.started = QDateTime::fromString("2026-12-10T08:00:00Z", Qt::ISODate).addSecs(60 * qint64(records.size()));
        record = chain.linked(record);
        chain.kept(record);
        record.id = qint64(records.size()) + 1;
        records.push_back(record);
    }
    return records;
}

QString verdict_of(const std::vector<FlashRecord>& records)
{
    ChainVerifier verifier;
    for (const FlashRecord& record : records)
        verifier.take(record);
    return verifier.verdict();
}

} // namespace

// The chain's bytes as documented: the previous chain, then each field as its length, ':' and its
// UTF-8 bytes, a NUL read as U+FFFD. The values were computed apart from this code.
TEST(RecordChain, TheDocumentedBytesOfTheChain)
{
    RecordChain chain("Line A");
    FlashRecord first = chain.linked(known_record());
    EXPECT_EQ(first.chain_seq, 1);
    EXPECT_EQ(first.chain, "3b042c44c7f6b50ba59b62564bd3f9755321d6416ce52b6dafeae389371ba52e");

    // Until the first is kept, the next record still takes its place.
    EXPECT_EQ(chain.linked(known_record()).chain, first.chain);
    chain.kept(first);
    FlashRecord second = known_record();
    second.passed = false;
    second.exit_status.reset();
    second.reason = "stopped: SIGTERM";
    second = chain.linked(second);
    EXPECT_EQ(second.chain_seq, 2);
    EXPECT_EQ(second.chain, "abe9d6428e670496b6e52d8ab0b66e5ef2621516313599dd7fca68ee2a1b4022");

    // A station that starts again goes on from its last record in the store.
    const RecordChain again("Line A", ChainLink{.seq = 1, .chain = first.chain});
    EXPECT_EQ(again.linked(second).chain, second.chain);
}

TEST(RecordChain, TheVerifierNamesTheFirstBreak)
{
    const struct {
        const char* what;
        std::function<void(std::vector<FlashRecord>&)> change;
        QString verdict;
    } cases[] = {
        {"intact", [](auto&) {}, "6 records of 2 stations: intact"},
        {"a field edited", [](auto& r) { r[2].reason = "passed"; },
         "the chain of Line A's records breaks: record 3 (Line A U2, started 2026-12-10T08:02:00.000Z): a field of it, or "
         "of the station's record before it, was changed after it was recorded"},
        {"a chain rewritten with the field", [](auto& r) { r[2].unit = "X"; r[2].chain = chain_of(r[0].chain, r[2]); },
         "the chain of Line A's records breaks: record 4 (Line A U3, started 2026-12-10T08:03:00.000Z): a field of it, or "
         "of the station's record before it, was changed after it was recorded"},
        {"a record removed", [](auto& r) { r.erase(r.begin() + 2); },
         "the chain of Line A's records breaks: the station's records 2 to 2, before record 4 (Line A U3, started "
         "2026-12-10T08:03:00.000Z), were removed"},
        {"a copy inserted later", [](auto& r) { r.push_back(r[2]); r.back().id = 7; },
         "the chain of Line A's records breaks: record 7 (Line A U2, started 2026-12-10T08:02:00.000Z) is out of "
         "order: it is the station's record 2, but stands after record 4"},
        {"an unchained record among chained ones", [](auto& r) { r[3].chain.clear(); r[3].chain_seq = 0; },
         "the chain of Line A's records breaks: record 4 (Line A U3, started 2026-12-10T08:03:00.000Z) has no chain: "
         "it was inserted among the station's chained records"},
        {"the other station's break", [](auto& r) { r[4].serial = "S"; },
         "the chain of Line B's records breaks: record 5 (Line B U4, started 2026-12-10T08:04:00.000Z): a field of it, or "
         "of the station's record before it, was changed after it was recorded"},
        {"records from before chains", [](auto& r) {
             FlashRecord old{.id = 0, .station = "Line A", .unit = "old"};
             r.insert(r.begin(), old);
         },
         "7 records of 2 stations: intact (1 of them from before records were chained)"},
    };
    for (const auto& c : cases) {
        std::vector<FlashRecord> records = two_stations_interleaved();
        c.change(records);
        EXPECT_EQ(verdict_of(records), c.verdict) << c.what;
    }
}

TEST(RecordChain, OneRecordOfOneStation)
{
    std::vector<FlashRecord> records = two_stations_interleaved();
    records.resize(1);
    EXPECT_EQ(verdict_of(records), "1 record of 1 station: intact");
    EXPECT_EQ(verdict_of({}), "0 records of 0 stations: intact");
}
