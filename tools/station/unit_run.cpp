#include "tools/station/unit_run.h"

#include "tools/station/journal_line.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>

namespace {

// The station's environment without what is the station's alone: every other port, and the
// records database's secrets (KESTRIN_RECORDS_PASSWORD, and libpq's PG* variables).
QProcessEnvironment unit_environment(int com_number, const std::string& device)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& name : environment.keys())
        if (name.startsWith("KESTRIN_COM") || name == "KESTRIN_RECORDS_PASSWORD" || name.startsWith("PG"))
            environment.remove(name);
    environment.insert("KESTRIN_UNATTENDED", "1");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert(QString("KESTRIN_COM%1").arg(com_number), QString::fromStdString(device));
    return environment;
}

std::string seconds_text(int seconds)
{
    return std::to_string(seconds) + " s";
}

// In the child, before kestrin runs: it gets SIGKILL when the station's thread ends, and ends at
// once when the station has already gone (the child then belongs to another process).
void die_with_station(pid_t station)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != station)
        _exit(127);
}

} // namespace

QString find_kestrin_program()
{
    const QString beside = QCoreApplication::applicationDirPath() + "/kestrin";
    if (QFileInfo(beside).isExecutable())
        return beside;
    return QStandardPaths::findExecutable("kestrin");
}

UnitRun::UnitRun(StationUnit unit, QObject* parent) : QObject(parent), unit_(std::move(unit))
{
    time_limit_.setSingleShot(true);
    time_limit_.setTimerType(Qt::PreciseTimer); // a coarse timer may fire up to 5 % early
    kill_timer_.setSingleShot(true);
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.setChildProcessModifier([station = getpid()] { die_with_station(station); });
    connect(&process_, &QProcess::readyReadStandardError, this, &UnitRun::readJournal);
    connect(&process_, &QProcess::finished, this, &UnitRun::processEnded);
    connect(&process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            processFailedToStart();
    });
    connect(&time_limit_, &QTimer::timeout, this,
            [this] { stop("time limit of " + seconds_text(setup_.time_limit_s) + " reached"); });
    connect(&kill_timer_, &QTimer::timeout, &process_, &QProcess::kill);
}

// A process still running when the station goes is killed, not left behind.
UnitRun::~UnitRun()
{
    process_.disconnect(this);
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(1000);
    }
}

double UnitRun::seconds() const
{
    return isActive() ? static_cast<double>(clock_.elapsed()) / 1000.0 : seconds_;
}

// Told by the station once the first of the queued units has started: a unit that starts at once
// is never seen waiting.
void UnitRun::queue()
{
    state_ = UnitState::Waiting;
}

void UnitRun::unqueue()
{
    if (state_ == UnitState::Waiting)
        setState(UnitState::Idle);
}

void UnitRun::clearResult()
{
    if (hasEnded())
        setState(UnitState::Idle);
}

void UnitRun::start(const UnitRunSetup& setup, const RunStart& begin)
{
    setup_ = setup;
    journal_ = RunJournal(setup.upload_word, [this](std::string_view line) { journal_file_.write(line); });
    stop_reason_.clear();
    exit_status_.reset();
    reason_.clear();
    record_key_ = begin.record_key;
    serial_ = begin.serial;
    started_ = begin.started;
    ended_ = QDateTime();
    clock_.start();
    not_kept_.clear();
    if (!journal_file_.open(begin.journal_path))
        not_kept_ = "the journal: " + journal_file_.error();

    if (!QFileInfo::exists(QString::fromStdString(unit_.device))) {
        finish(UnitState::Failed, "no such device: " + unit_.device);
        return;
    }
    if (setup.program.isEmpty()) {
        finish(UnitState::Failed, "kestrin is neither beside kestrin-station nor on PATH");
        return;
    }
    setState(UnitState::Running);
    process_.setProcessEnvironment(unit_environment(setup.com_number, unit_.device));
    process_.setWorkingDirectory(setup.folder);
    process_.start(setup.program, {});
    time_limit_.start(setup.time_limit_s * 1000);
}

void UnitRun::stop(const std::string& reason)
{
    if (!isActive() || !stop_reason_.empty())
        return;
    stop_reason_ = reason;
    time_limit_.stop();
    process_.terminate();
    kill_timer_.start(setup_.grace_ms);
}

void UnitRun::readJournal()
{
    const QByteArray bytes = process_.readAllStandardError();
    journal_.take(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                  [this] { followJournal(); });
}

// The state follows the journal: Uploading while an image streams.
void UnitRun::followJournal()
{
    if (isActive())
        state_ = journal_.uploading() ? UnitState::Uploading : UnitState::Running;
    emit changed();
}

void UnitRun::processEnded(int exitCode, QProcess::ExitStatus exitStatus)
{
    readJournal();
    journal_.endOfInput();
    time_limit_.stop();
    kill_timer_.stop();
    if (exitStatus == QProcess::NormalExit)
        exit_status_ = exitCode;
    if (!stop_reason_.empty())
        finish(UnitState::Failed, stop_reason_);
    else if (exitStatus == QProcess::CrashExit)
        finish(UnitState::Failed, journal_.crashNote().empty() ? "kestrin crashed"
                                                               : "kestrin crashed: " + journal_.crashNote());
    else if (exitCode == 0)
        finish(UnitState::Passed, {});
    else
        finish(UnitState::Failed, journal_.resultReason().value_or("").empty() ? reasonOfExitStatus(exitCode)
                                                                              : *journal_.resultReason());
}

void UnitRun::processFailedToStart()
{
    time_limit_.stop();
    finish(UnitState::Failed, "kestrin could not be started: " + process_.errorString().toStdString());
}

std::string UnitRun::reasonOfExitStatus(int code) const
{
    switch (code) {
    case 1:
        return "the script failed (exit status 1)";
    case 2:
        return "no unit found (exit status 2)";
    case 3:
        return "configuration or script unreadable (exit status 3)";
    default:
        return "kestrin ended with exit status " + std::to_string(code);
    }
}

void UnitRun::finish(UnitState state, const std::string& reason)
{
    reason_ = reason;
    seconds_ = static_cast<double>(clock_.elapsed()) / 1000.0;
    ended_ = QDateTime::currentDateTimeUtc();
    const bool stationsOwnReason = state == UnitState::Failed && reason != journal_.resultReason();
    if (stationsOwnReason)
        journal_.addStationLine("station: " + reason);
    journal_.noteDroppedBytes();
    journal_file_.close();
    if (not_kept_.isEmpty() && !journal_file_.error().isEmpty())
        not_kept_ = "the journal: " + journal_file_.error();
    setState(state);
    emit finished();
}

void UnitRun::setState(UnitState state)
{
    state_ = state;
    emit changed();
}

std::string state_text(const UnitRun& run)
{
    switch (run.state()) {
    case UnitState::Idle:
        return {};
    case UnitState::Waiting:
        return "waiting for a free slot";
    case UnitState::Running:
        return "running";
    case UnitState::Uploading:
        return "uploading " + run.progressFile() + " " + std::to_string(run.progressSent()) + "/" +
               std::to_string(run.progressTotal());
    case UnitState::Passed:
        return "pass " + QString::number(run.seconds(), 'f', 1).toStdString() + " s";
    case UnitState::Failed:
        return "fail: " + run.reason();
    }
    return {};
}
