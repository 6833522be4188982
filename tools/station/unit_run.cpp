#include "tools/station/unit_run.h"

#include "tools/station/journal_line.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QStandardPaths>

namespace {

constexpr const char* kCutMark = " [cut]";

QProcessEnvironment unit_environment(int com_number, const std::string& device)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& name : environment.keys())
        if (name.startsWith("KESTRIN_COM"))
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

} // namespace

void BoundedText::appendLine(const std::string& line)
{
    if (text_.size() + line.size() + 1 > limit_) {
        dropped_ += line.size() + 1;
        return;
    }
    text_ += line;
    text_ += '\n';
}

void BoundedText::appendBeyondLimit(const std::string& line)
{
    text_ += line;
    text_ += '\n';
}

void BoundedText::clear()
{
    text_.clear();
    dropped_ = 0;
}

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

void UnitRun::queue()
{
    setState(UnitState::Waiting);
}

void UnitRun::unqueue()
{
    if (state_ == UnitState::Waiting)
        setState(UnitState::Idle);
}

void UnitRun::start(const UnitRunSetup& setup)
{
    setup_ = setup;
    partial_line_.clear();
    cutting_line_ = false;
    journal_.clear();
    uploads_.clear();
    answers_.clear();
    progress_file_.clear();
    progress_sent_ = progress_total_ = 0;
    result_reason_.reset();
    crash_note_.clear();
    stop_reason_.clear();
    exit_status_.reset();
    reason_.clear();
    started_ = QDateTime::currentDateTimeUtc();
    ended_ = QDateTime();
    clock_.start();

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
    for (char c : bytes) {
        if (c == '\n') {
            if (!cutting_line_)
                takeLine(std::move(partial_line_));
            partial_line_.clear();
            cutting_line_ = false;
        } else if (!cutting_line_) {
            partial_line_ += c;
            if (partial_line_.size() == kMaxJournalLineBytes) {
                takeLine(std::move(partial_line_) + kCutMark);
                partial_line_.clear();
                cutting_line_ = true;
            }
        }
    }
}

void UnitRun::takeLine(std::string line)
{
    const JournalEvent event = parse_journal_line(line, setup_.upload_word);
    switch (event.kind) {
    case JournalKind::Progress:
        progress_file_ = std::string(event.file);
        progress_sent_ = event.sent;
        progress_total_ = event.total;
        setState(UnitState::Uploading);
        break;
    case JournalKind::Upload:
        uploads_.appendLine(line);
        setState(UnitState::Running);
        break;
    case JournalKind::Answer:
        answers_.appendLine(line);
        break;
    case JournalKind::Result:
        if (!event.passed)
            result_reason_ = std::string(event.text);
        break;
    case JournalKind::Qt:
        crash_note_ = std::string(event.text);
        break;
    default:
        break;
    }
    journal_.appendLine(line);
    emit changed();
}

void UnitRun::processEnded(int exitCode, QProcess::ExitStatus exitStatus)
{
    readJournal();
    if (!partial_line_.empty() && !cutting_line_)
        takeLine(std::move(partial_line_));
    partial_line_.clear();
    time_limit_.stop();
    kill_timer_.stop();
    if (exitStatus == QProcess::NormalExit)
        exit_status_ = exitCode;
    if (!stop_reason_.empty())
        finish(UnitState::Failed, stop_reason_);
    else if (exitStatus == QProcess::CrashExit)
        finish(UnitState::Failed, crash_note_.empty() ? "kestrin crashed" : "kestrin crashed: " + crash_note_);
    else if (exitCode == 0)
        finish(UnitState::Passed, {});
    else
        finish(UnitState::Failed, result_reason_ && !result_reason_->empty() ? *result_reason_
                                                                             : reasonOfExitStatus(exitCode));
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
    const bool stationsOwnReason = state == UnitState::Failed && reason != result_reason_;
    if (stationsOwnReason)
        journal_.appendBeyondLimit("station: " + reason);
    noteDroppedBytes();
    setState(state);
    emit finished();
}

void UnitRun::noteDroppedBytes()
{
    const std::size_t dropped = journal_.droppedBytes() + uploads_.droppedBytes() + answers_.droppedBytes();
    if (dropped == 0)
        return;
    const std::string note = "station: " + std::to_string(journal_.droppedBytes()) + " journal bytes, " +
                             std::to_string(uploads_.droppedBytes()) + " upload and " +
                             std::to_string(answers_.droppedBytes()) + " answer bytes beyond the bounds not kept";
    journal_.appendBeyondLimit(note);
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
        return "waiting";
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
