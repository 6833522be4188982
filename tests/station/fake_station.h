#pragma once
// A station whose "kestrin" is a shell script, for tests of the station's own work: the states,
// the bounds, the records and journals, the table. The script reads its unit's device (a plain
// file here) as the name of what to do, so a test changes a unit's behaviour by rewriting that file:
//
//   pass    journal lines of a good run (where it runs, its KESTRIN_* environment, progress of an
//           image whose name holds blanks and colons, its upload and answer), exit 0
//   fail    a failed script: message and result: fail with a reason, exit 1
//   crash   a status line, then SIGSEGV
//   exit3   no line at all, exit status 3
//   flood   a 3 MB line without a line feed, then 100000 lines of 15 bytes, result: pass, exit 0
//   hang    a status line, then waits for ever and ignores SIGTERM

#include "tests/support/temp_dir.h"
#include "tools/station/station.h"

#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

inline constexpr int kFakeComNumber = 7;

inline const char* const kFakeKestrin = R"sh(#!/bin/sh
case "$(cat "$KESTRIN_COM7")" in
pass)
  echo "status: cwd $(pwd)" >&2
  env | grep '^KESTRIN_\|^QT_QPA_PLATFORM' | sort | sed 's/^/status: /' >&2
  echo "progress: my image: v2.bin 2000/4000" >&2
  echo "progress: my image: v2.bin 4000/4000" >&2
  echo "upload: my image: v2.bin: LF 0x10000 4000 1a2b V1 -> complete" >&2
  echo "answer: Version 2.03" >&2
  echo "result: pass" >&2
  exit 0 ;;
fail)
  echo 'message: Error! Unit "A" refused, twice' >&2
  echo 'result: fail: Error! Unit "A" refused, twice' >&2
  exit 1 ;;
crash)
  echo "status: about to crash" >&2
  kill -SEGV $$ ;;
exit3)
  exit 3 ;;
flood)
  head -c 3000000 /dev/zero | tr '\0' x >&2
  printf '\n' >&2
  yes "status: filler" | head -n 100000 >&2
  echo "result: pass" >&2
  exit 0 ;;
hang)
  trap '' TERM
  echo "status: hanging" >&2
  while :; do sleep 1; done ;;
esac
)sh";

// A station folder with the fake program and one device file per unit, each holding its mode.
class FakeStation {
public:
    FakeStation()
    {
        dir_.write("kestrin", kFakeKestrin);
        QFile::setPermissions(QString::fromStdString(program()), QFile::ReadOwner | QFile::ExeOwner);
    }

    std::string program() const { return dir_.path("kestrin"); }
    std::string device(const std::string& unit) const { return dir_.path(unit + ".dev"); }
    std::string folder() const { return dir_.path(); }
    void setMode(const std::string& unit, const std::string& mode) const { dir_.write(unit + ".dev", mode); }

    // A unit with a mode gets a device; one without ("") names a device that is not there. The
    // records go to records.sqlite unless `records` is given.
    std::unique_ptr<Station> make(const std::vector<std::pair<std::string, std::string>>& units, int parallel,
                                  int time_limit_s, std::unique_ptr<RecordStore> records = nullptr) const
    {
        StationSettings s;
        s.file = dir_.path("bench.ini");
        s.folder = dir_.path();
        s.name = "Bench T";
        s.parallel = parallel;
        s.time_limit_s = time_limit_s;
        s.records = dir_.path("records.sqlite");
        s.ledger = dir_.path("bench.station.sqlite");
        s.lock = dir_.path("bench.lock");
        s.com_number = kFakeComNumber;
        s.script = "flash.sld";
        for (const auto& [name, mode] : units) {
            if (!mode.empty())
                setMode(name, mode);
            s.units.push_back({name, device(name)});
        }
        QString error;
        StationParts parts{.records = records ? std::move(records) : open_record_store(s.records, error),
                           .ledger = RunLedger::open(QString::fromStdString(s.ledger), error),
                           .program = QString::fromStdString(program())};
        auto station = std::make_unique<Station>(std::move(s), std::move(parts));
        station->setGraceMs(200);
        return station;
    }

private:
    TempWorkDir dir_;
};

// Calls `start` and runs the event loop until the station is idle; a guard ends a hung run after
// two minutes so that the test fails instead of hanging.
template <typename Start>
bool run_until_idle(Station& station, Start start)
{
    QEventLoop loop;
    QObject::connect(&station, &Station::idle, &loop, [&loop] { loop.exit(0); }, Qt::QueuedConnection);
    QTimer::singleShot(120000, &loop, [&loop] { loop.exit(1); });
    start();
    return loop.exec() == 0 && !station.busy();
}
