#include "tools/station/station.h"

#include "serial/port_map.h"

#include <QFile>

#include <algorithm>

QString totals_text(const StationTotals& totals)
{
    QString text = QString("%1 passed, %2 failed, %3 running").arg(totals.passed).arg(totals.failed).arg(totals.running);
    if (totals.waiting > 0)
        text += QString(", %1 waiting").arg(totals.waiting);
    return text;
}

Station::Station(StationSettings settings, std::unique_ptr<RecordStore> records, QString program, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), records_(std::move(records))
{
    setup_.program = std::move(program);
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

void Station::stop()
{
    for (int row : std::exchange(waiting_, {}))
        runs_[static_cast<std::size_t>(row)]->unqueue();
    for (auto& run : runs_)
        run->stop("stopped by the operator");
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
        runs_[static_cast<std::size_t>(row)]->start(setup_);
    }
    if (!busy())
        emit idle();
}

void Station::unitFinished(int row)
{
    const UnitRun& run = unit(row);
    keepJournal(run);
    keepRecord(run);
    // The next unit starts from the event loop, never inside the ended run's own signal.
    QMetaObject::invokeMethod(this, &Station::launchWaiting, Qt::QueuedConnection);
}

void Station::keepJournal(const UnitRun& run)
{
    const QString folder = folder_of_[static_cast<std::size_t>(rowOf(run.unit().name))];
    QDir().mkpath(folder);
    const QString name = QString::fromStdString(run.unit().name);
    QString path = QDir(folder).filePath(name + ".log");
    for (int n = 2; QFile::exists(path); ++n)
        path = QDir(folder).filePath(QString("%1-%2.log").arg(name).arg(n));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(run.journal().data(), static_cast<qint64>(run.journal().size())) < 0) {
        keep_error_ = path + ": " + file.errorString();
        ++keep_failures_;
    }
}

void Station::keepRecord(const UnitRun& run)
{
    const FlashRecord record{.station = QString::fromStdString(settings_.name),
                             .unit = QString::fromStdString(run.unit().name),
                             .port = QString::fromStdString(run.unit().device),
                             .adapter = QString::fromStdString(serial_by_id_name(run.unit().device)),
                             .started = run.started(),
                             .ended = run.ended(),
                             .seconds = run.seconds(),
                             .passed = run.state() == UnitState::Passed,
                             .exit_status = run.exitStatus(),
                             .reason = QString::fromStdString(run.reason()),
                             .uploads = QString::fromStdString(run.uploads()),
                             .answers = QString::fromStdString(run.answers()),
                             .journal = QString::fromStdString(run.journal()),
                             .key = new_record_key()};
    if (!records_->write(record)) {
        keep_error_ = records_->error();
        ++keep_failures_;
    }
}

std::unique_ptr<Station> make_station(const std::string& path, QString& error)
{
    StationFileResult read = read_station_file(path);
    if (!read.settings) {
        error = QString::fromStdString(read.error);
        return nullptr;
    }
    QString records_error;
    std::unique_ptr<RecordStore> records =
        open_record_store(read.settings->records, records_error, read.settings->spool);
    if (!records) {
        error = "records: " + records_error;
        return nullptr;
    }
    return std::make_unique<Station>(std::move(*read.settings), std::move(records), find_kestrin_program());
}
