#pragma once
// Runs the real program, build/kestrin, in a working directory with the given environment, and
// collects its exit status and its standard error (the unattended journal).
//
//   run_kestrin(dir, env, timeout)                 until it ends by itself (killed after timeout)
//   run_kestrin_until_journal(dir, env, text, timeout)   an interactive run: until its journal
//                                                  shows `text`, then it is terminated

#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>

#include <string>
#include <utility>
#include <vector>

struct ProgramResult {
    bool finished = false;
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    std::string journal; // standard error
};

using ProgramEnvironment = std::vector<std::pair<QString, QString>>;

inline void start_kestrin(QProcess& process, const std::string& workDir, const ProgramEnvironment& env)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("KESTRIN_UNATTENDED", "1");
    for (const auto& [name, value] : env)
        environment.insert(name, value);
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(QString::fromStdString(workDir));
    process.start(KESTRIN_BUILD_DIR "/kestrin", {});
}

inline ProgramResult run_kestrin(const std::string& workDir, const ProgramEnvironment& env,
                                 int timeoutMs = 60000)
{
    QProcess process;
    start_kestrin(process, workDir, env);
    ProgramResult result;
    result.finished = process.waitForFinished(timeoutMs);
    if (!result.finished)
        process.kill();
    process.waitForFinished(2000);
    result.exitCode = process.exitCode();
    result.exitStatus = process.exitStatus();
    result.journal = process.readAllStandardError().toStdString();
    return result;
}

// `finished` tells whether the journal showed the text before the time ran out.
inline ProgramResult run_kestrin_until_journal(const std::string& workDir, const ProgramEnvironment& env,
                                               const std::string& text, int timeoutMs = 60000)
{
    QProcess process;
    process.setReadChannel(QProcess::StandardError);
    start_kestrin(process, workDir, env);
    ProgramResult result;
    QDeadlineTimer deadline(timeoutMs);
    while (!result.finished && !deadline.hasExpired() && process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(100);
        result.journal += process.readAllStandardError().toStdString();
        result.finished = result.journal.find(text) != std::string::npos;
    }
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished(2000);
    result.journal += process.readAllStandardError().toStdString();
    result.exitCode = process.exitCode();
    result.exitStatus = process.exitStatus();
    return result;
}

// The journal without Qt's own diagnostic lines.
inline std::string journal_lines(const std::string& journal)
{
    std::string out;
    size_t start = 0;
    while (start < journal.size()) {
        size_t end = journal.find('\n', start);
        if (end == std::string::npos)
            end = journal.size();
        const std::string line = journal.substr(start, end - start);
        if (line.rfind("qt: ", 0) != 0)
            out += line + "\n";
        start = end + 1;
    }
    return out;
}
