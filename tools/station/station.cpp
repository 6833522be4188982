#include "tools/station/station.h"

#include "serial/port_map.h"
#include "tools/station/database_url.h"
#include "tools/station/hands_free.h"
#include "tools/station/private_files.h"

#include <QFile>
#include <QTemporaryFile>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <numeric>

QString totals_text(const StationTotals& totals)
{
    QString text = QString("%1 passed, %2 failed, %3 running").arg(totals.passed).arg(totals.failed).arg(totals.running);
    if (totals.waiting > 0)
        text += QString(", %1 waiting").arg(totals.waiting);
    return text;
}

Station::Station(StationSettings settings, StationParts parts, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), records_(std::move(parts.records)),
      ledger_(std::move(parts.ledger)), lock_(std::move(parts.lock)),
      chain_(QString::fromStdString(settings_.name), records_->lastChain(QString::fromStdString(settings_.name)))
{
    setup_.program = std::move(parts.program);
    setup_.folder = QString::fromStdString(settings_.folder);
    setup_.com_number = settings_.com_number;
    setup_.time_limit_s = settings_.time_limit_s;
    setup_.upload_word = settings_.upload_word;
    for (const StationUnit& unit : settings_.units) {
        const int row = static_cast<int>(runs_.size());
        auto run = std::make_unique<UnitRun>(unit);
        connect(run.get(), &UnitRun::changed, this, [this, row] { emit unitChanged(row); });
        connect(run.get(), &UnitRun::finished, this, [this, row] { unitFinished(row); });
        runs_.push_back(std::move(run));
    }
    folder_of_.resize(runs_.size());
    serials_.resize(runs_.size());
    if (settings_.start_when_present) {
        hands_free_ = new HandsFreeLine(*this);
        connect(hands_free_, &HandsFreeLine::presenceChanged, this, &Station::presenceChanged);
    }
}

Station::~Station() = default;

int Station::rowOf(const std::string& name) const
{
    for (int row = 0; row < unitCount(); ++row)
        if (unit(row).unit().name == name)
            return row;
    return -1;
}

void Station::newBatchFolder()
{
    batch_folder_ = QDir(setup_.folder).filePath("runs/" + QDateTime::currentDateTimeUtc().toString("yyyyMMddTHHmmssZ"));
}

// With start=when_present a unit starts each time one is put on: the journals of a shift share
// the folder of its arming.
void Station::start(const std::vector<int>& rows)
{
    if (!hands_free_ || batch_folder_.isEmpty())
        newBatchFolder();
    for (int row : rows) {
        UnitRun& run = *runs_[static_cast<std::size_t>(row)];
        if (run.isActive() || run.state() == UnitState::Waiting)
            continue;
        folder_of_[static_cast<std::size_t>(row)] = batch_folder_;
        run.queue();
        waiting_.push_back(row);
    }
    const std::vector<int> queued = waiting_;
    launchWaiting();
    for (int row : queued)
        if (unit(row).state() == UnitState::Waiting)
            emit unitChanged(row);
}

void Station::startAll()
{
    std::vector<int> rows(runs_.size());
    std::iota(rows.begin(), rows.end(), 0);
    start(rows);
}

void Station::startFailed()
{
    std::vector<int> rows;
    for (int row = 0; row < unitCount(); ++row)
        if (unit(row).state() == UnitState::Failed)
            rows.push_back(row);
    start(rows);
}

void Station::stop(const std::string& reason)
{
    disarm();
    for (int row : std::exchange(waiting_, {}))
        runs_[static_cast<std::size_t>(row)]->unqueue();
    for (auto& run : runs_)
        run->stop(reason);
}

void Station::arm(const std::vector<int>& rows)
{
    if (!hands_free_ || hands_free_->armed())
        return;
    newBatchFolder();
    shift_ = {};
    shift_started_ = QDateTime::currentDateTimeUtc();
    hands_free_->arm(rows);
}

void Station::armAll()
{
    std::vector<int> rows(runs_.size());
    std::iota(rows.begin(), rows.end(), 0);
    arm(rows);
}

void Station::disarm()
{
    if (!hands_free_)
        return;
    hands_free_->disarm();
    for (int row : std::exchange(waiting_, {}))
        runs_[static_cast<std::size_t>(row)]->unqueue();
}

bool Station::armed() const
{
    return hands_free_ && hands_free_->armed();
}

Presence Station::presence(int row) const
{
    return hands_free_ ? hands_free_->presence(row) : Presence::Disarmed;
}

void Station::unitRemoved(int row)
{
    const auto queued = std::find(waiting_.begin(), waiting_.end(), row);
    if (queued != waiting_.end()) {
        waiting_.erase(queued);
        runs_[static_cast<std::size_t>(row)]->unqueue();
    }
    // A failure stays on screen until the next unit starts: a unit that hung after failing answers
    // no probe, and its FAIL must not vanish before anyone has seen it.
    if (unit(row).state() == UnitState::Passed)
        runs_[static_cast<std::size_t>(row)]->clearResult();
}

bool Station::busy() const
{
    return std::any_of(runs_.begin(), runs_.end(),
                       [](const auto& run) { return run->isActive() || run->state() == UnitState::Waiting; });
}

StationTotals Station::totals() const
{
    StationTotals totals;
    for (const auto& run : runs_) {
        switch (run->state()) {
        case UnitState::Passed:
            ++totals.passed;
            break;
        case UnitState::Failed:
            ++totals.failed;
            break;
        case UnitState::Running:
        case UnitState::Uploading:
            ++totals.running;
            break;
        case UnitState::Waiting:
            ++totals.waiting;
            break;
        case UnitState::Idle:
            break;
        }
    }
    return totals;
}

bool Station::waitsForSerial(int row) const
{
    return settings_.require_serial && serials_[static_cast<std::size_t>(row)].isEmpty();
}

// One unit at a time, each from a turn of the event loop of its own: starting a process takes a
// while, and sixteen of them in one go would hold up the window as long.
void Station::launchWaiting()
{
    launch_due_ = false;
    const auto active = std::count_if(runs_.begin(), runs_.end(), [](const auto& run) { return run->isActive(); });
    const auto next = std::find_if(waiting_.begin(), waiting_.end(), [this](int row) { return !waitsForSerial(row); });
    if (next != waiting_.end() && active < settings_.parallel) {
        const int row = *next;
        waiting_.erase(next);
        launch(row);
        launchSoon();
        return;
    }
    if (!busy())
        emit idle();
}

void Station::launchSoon()
{
    if (std::exchange(launch_due_, true))
        return;
    QTimer::singleShot(0, this, &Station::launchWaiting);
}

// The unit is in the ledger before anything of its run happens.
void Station::launch(int row)
{
    UnitRun& run = *runs_[static_cast<std::size_t>(row)];
    const QString name = QString::fromStdString(run.unit().name);
    const RunStart begin{.record_key = new_record_key(),
                         .started = QDateTime::currentDateTimeUtc(),
                         .journal_path = unique_journal_path(folder_of_[static_cast<std::size_t>(row)], name),
                         .serial = std::exchange(serials_[static_cast<std::size_t>(row)], {})};
    FlashRecord entry{.station = QString::fromStdString(settings_.name),
                      .unit = name,
                      .port = QString::fromStdString(run.unit().device),
                      .adapter = QString::fromStdString(serial_by_id_name(run.unit().device)),
                      .started = begin.started,
                      .key = begin.record_key,
                      .serial = begin.serial};
    // Without its entry the run is still recorded when it ends, only not if the station dies first.
    if (!ledger_->enter(entry, begin.journal_path))
        keep_error_ = "the ledger: " + ledger_->error();
    emit launching(row);
    run.start(setup_, begin);
}

void Station::unitFinished(int row)
{
    const UnitRun& run = *runs_[static_cast<std::size_t>(row)];
    keepRecord(*runs_[static_cast<std::size_t>(row)]);
    shift_.push_back({run.ended(), run.state() == UnitState::Passed});
    emit runEnded(row);
    // The next unit starts from the event loop, never inside the ended run's own signal.
    launchSoon();
}

FlashRecord Station::recordOf(const UnitRun& run) const
{
    FlashRecord record{.station = QString::fromStdString(settings_.name),
                       .unit = QString::fromStdString(run.unit().name),
                       .port = QString::fromStdString(run.unit().device),
                       .adapter = QString::fromStdString(serial_by_id_name(run.unit().device)),
                       .started = run.started(),
                       .ended = run.ended(),
                       .seconds = run.seconds(),
                       .passed = run.state() == UnitState::Passed,
                       .exit_status = run.exitStatus(),
                       .reason = QString::fromStdString(run.reason()),
                       .key = run.recordKey(),
                       .station_version = KESTRIN_VERSION,
                       .serial = run.serial()};
    take_journal_facts(record, run.runJournal());
    return record;
}

// A record that could not be written stays in the ledger with what the run ended as, for the
// station's next start.
void Station::keepRecord(UnitRun& run)
{
    const FlashRecord record = chain_.linked(recordOf(run));
    QString not_kept = run.notKept();
    if (!records_->write(record)) {
        not_kept = "the record: " + records_->error();
        ledger_->keepEnded(record);
    } else {
        chain_.kept(record);
        ledger_->strikeOff(record.key); // a record kept twice is left out by its key
    }
    if (not_kept.isEmpty())
        return;
    run.setNotKept(not_kept);
    keep_error_ = not_kept;
    ++keep_failures_;
}

std::optional<QString> serial_problem(const QString& serial)
{
    if (serial.isEmpty())
        return "the serial is empty";
    if (serial.size() > kMaxSerialLength)
        return QString("a serial has at most %1 characters; this one has %2").arg(kMaxSerialLength).arg(serial.size());
    for (qsizetype i = 0; i < serial.size(); ++i)
        if (serial[i].unicode() < 0x20 || serial[i].unicode() > 0x7e)
            return QString("a serial holds printable ASCII characters only; character %1 is not one").arg(i + 1);
    return std::nullopt;
}

std::optional<QString> Station::assignSerial(int row, const QString& serial)
{
    if (!serial.isEmpty()) {
        if (auto problem = serial_problem(serial))
            return problem;
        for (int other = 0; other < unitCount(); ++other) {
            const bool taken = serialOf(other) == serial || (unit(other).isActive() && unit(other).serial() == serial);
            if (other != row && taken)
                return QString("%1 is the serial of the unit on %2 already")
                    .arg(serial, QString::fromStdString(unit(other).unit().name));
        }
    }
    serials_[static_cast<std::size_t>(row)] = serial;
    emit unitChanged(row);
    launchSoon();
    return std::nullopt;
}

int Station::rowForScannedSerial(int selected) const
{
    if (selected >= 0)
        return selected;
    for (int row = 0; row < unitCount(); ++row) {
        const bool before_its_run = hands_free_ ? presence(row) == Presence::Empty || presence(row) == Presence::Present
                                                : !unit(row).isActive();
        if (before_its_run && serialOf(row).isEmpty())
            return row;
    }
    return -1;
}

std::string Station::stateText(int row) const
{
    if (unit(row).state() == UnitState::Waiting && waitsForSerial(row))
        return "scan the unit's serial";
    return state_text(unit(row));
}

namespace {

// Writing a file in runs/ tells whether journals can be kept there; permission bits would not
// (root ignores them).
bool runs_folder_writable(const QString& folder, QString& error)
{
    const QString runs = QDir(folder).filePath("runs");
    QTemporaryFile probe(runs + "/.kestrin-station-XXXXXX");
    if (make_private_folders(runs) && probe.open() && probe.write("x", 1) == 1 && probe.flush())
        return true;
    error = runs + ": journals cannot be written there" +
            (probe.errorString().isEmpty() ? QString() : " (" + probe.errorString() + ")");
    return false;
}

} // namespace

std::vector<QString> station_warnings(const StationSettings& settings)
{
    std::vector<QString> warnings;
    if (names_database(settings.records)) {
        const auto address = std::get<DatabaseAddress>(parse_database_url(settings.records));
        if (sslmode_of(address) == "disable" && !on_this_machine(address.host))
            warnings.push_back("records: the connection to " + QString::fromStdString(address.host) +
                               " is not encrypted");
    }
    for (const std::string& path : {names_database(settings.records) ? settings.spool : settings.records,
                                    settings.ledger, (std::filesystem::path(settings.folder) / "runs").string()})
        if (const auto warning = readable_by_others(QString::fromStdString(path)))
            warnings.push_back("records: " + *warning);
    return warnings;
}

std::optional<int> record_runs_left_running(const StationSettings& settings, RecordStore& records, QString& error)
{
    QString held;
    const auto lock = StationLock::take(QString::fromStdString(settings.lock), held);
    if (!lock)
        return 0;
    const auto ledger = RunLedger::open(QString::fromStdString(settings.ledger), error);
    if (!ledger)
        return std::nullopt;
    return record_leftover_runs(*ledger, records, KESTRIN_VERSION, QString::fromStdString(settings.upload_word),
                                error);
}

std::unique_ptr<Station> make_station(const std::string& path, QString& error)
{
    StationFileResult read = read_station_file(path);
    if (!read.settings) {
        error = QString::fromStdString(read.error);
        return nullptr;
    }
    const StationSettings& settings = *read.settings;
    StationParts parts{.lock = StationLock::take(QString::fromStdString(settings.lock), error)};
    if (!parts.lock)
        return nullptr;
    QString problem;
    parts.records = open_record_store(settings.records, problem, settings.spool);
    if (!parts.records || !parts.records->checkWritable(problem)) {
        error = "records: " + (parts.records ? QString::fromStdString(settings.spool.empty() ? settings.records
                                                                                             : settings.spool) +
                                                   ": cannot be written: " + problem
                                             : problem);
        return nullptr;
    }
    parts.ledger = RunLedger::open(QString::fromStdString(settings.ledger), error);
    if (!parts.ledger || !runs_folder_writable(QString::fromStdString(settings.folder), error))
        return nullptr;
    const std::optional<int> recovered = record_leftover_runs(
        *parts.ledger, *parts.records, KESTRIN_VERSION, QString::fromStdString(settings.upload_word), problem);
    if (!recovered) {
        error = "records: the runs of the station that ended could not be recorded: " + problem;
        return nullptr;
    }
    parts.program = find_kestrin_program();
    const std::vector<QString> warnings = station_warnings(settings);
    auto station = std::make_unique<Station>(std::move(*read.settings), std::move(parts));
    station->setRecoveredRuns(*recovered);
    station->setWarnings(warnings);
    return station;
}
