#include "tools/station/station.h"

#include "serial/port_map.h"

#include <QFile>
#include <QTemporaryFile>

#include <algorithm>

QString totals_text(const StationTotals& totals)
{
    QString text = QString("%1 passed, %2 failed, %3 running").arg(totals.passed).arg(totals.failed).arg(totals.running);
    if (totals.waiting > 0)
        text += QString(", %1 waiting").arg(totals.waiting);
    return text;
}

Station::Station(StationSettings settings, StationParts parts, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), records_(std::move(parts.records)),
      ledger_(std::move(parts.ledger)), lock_(std::move(parts.lock))
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
}

Station::~Station() = default;

int Station::rowOf(const std::string& name) const
{
    for (int row = 0; row < unitCount(); ++row)
        if (unit(row).unit().name == name)
            return row;
    return -1;
}

void Station::start(const std::vector<int>& rows)
{
    batch_folder_ = QDir(setup_.folder).filePath("runs/" + QDateTime::currentDateTimeUtc().toString("yyyyMMddTHHmmssZ"));
    for (int row : rows) {
        UnitRun& run = *runs_[static_cast<std::size_t>(row)];
        if (run.isActive() || run.state() == UnitState::Waiting)
            continue;
        folder_of_[static_cast<std::size_t>(row)] = batch_folder_;
        run.queue();
        waiting_.push_back(row);
    }
    launchWaiting();
}

void Station::startAll()
{
    std::vector<int> rows(runs_.size());
    for (std::size_t row = 0; row < rows.size(); ++row)
        rows[row] = static_cast<int>(row);
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
    for (int row : std::exchange(waiting_, {}))
        runs_[static_cast<std::size_t>(row)]->unqueue();
    for (auto& run : runs_)
        run->stop(reason);
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

void Station::launchWaiting()
{
    const auto active = [this] {
        return std::count_if(runs_.begin(), runs_.end(), [](const auto& run) { return run->isActive(); });
    };
    while (!waiting_.empty() && active() < settings_.parallel) {
        const int row = waiting_.front();
        waiting_.erase(waiting_.begin());
        launch(row);
    }
    if (!busy())
        emit idle();
}

// The unit is in the ledger before anything of its run happens.
void Station::launch(int row)
{
    UnitRun& run = *runs_[static_cast<std::size_t>(row)];
    const QString name = QString::fromStdString(run.unit().name);
    const RunStart begin{.record_key = new_record_key(),
                   .started = QDateTime::currentDateTimeUtc(),
                   .journal_path = unique_journal_path(folder_of_[static_cast<std::size_t>(row)], name)};
    FlashRecord entry{.station = QString::fromStdString(settings_.name),
                      .unit = name,
                      .port = QString::fromStdString(run.unit().device),
                      .adapter = QString::fromStdString(serial_by_id_name(run.unit().device)),
                      .started = begin.started,
                      .key = begin.record_key};
    // Without its entry the run is still recorded when it ends, only not if the station dies first.
    if (!ledger_->enter(entry, begin.journal_path))
        keep_error_ = "the ledger: " + ledger_->error();
    run.start(setup_, begin);
}

void Station::unitFinished(int row)
{
    keepRecord(*runs_[static_cast<std::size_t>(row)]);
    // The next unit starts from the event loop, never inside the ended run's own signal.
    QMetaObject::invokeMethod(this, &Station::launchWaiting, Qt::QueuedConnection);
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
                       .station_version = KESTRIN_VERSION};
    take_journal_facts(record, run.runJournal());
    return record;
}

// A record that could not be written stays in the ledger with what the run ended as, for the
// station's next start.
void Station::keepRecord(UnitRun& run)
{
    const FlashRecord record = recordOf(run);
    QString not_kept = run.notKept();
    if (!records_->write(record)) {
        not_kept = "the record: " + records_->error();
        ledger_->keepEnded(record);
    } else {
        ledger_->strikeOff(record.key); // a record kept twice is left out by its key
    }
    if (not_kept.isEmpty())
        return;
    run.setNotKept(not_kept);
    keep_error_ = not_kept;
    ++keep_failures_;
}

namespace {

// Writing a file in runs/ tells whether journals can be kept there; permission bits would not
// (root ignores them).
bool runs_folder_writable(const QString& folder, QString& error)
{
    const QString runs = QDir(folder).filePath("runs");
    QTemporaryFile probe(runs + "/.kestrin-station-XXXXXX");
    if (QDir().mkpath(runs) && probe.open() && probe.write("x", 1) == 1 && probe.flush())
        return true;
    error = runs + ": journals cannot be written there" +
            (probe.errorString().isEmpty() ? QString() : " (" + probe.errorString() + ")");
    return false;
}

} // namespace

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
    auto station = std::make_unique<Station>(std::move(*read.settings), std::move(parts));
    station->setRecoveredRuns(*recovered);
    return station;
}
