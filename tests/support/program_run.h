#pragma once
// Runs the real program, build/kestrin, in a working directory with the given environment, and
// collects its exit status and its standard error (the unattended journal).

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

inline ProgramResult run_kestrin(const std::string& workDir,
                                 const std::vector<std::pair<QString, QString>>& env,
                                 int timeoutMs = 60000)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("KESTRIN_UNATTENDED", "1");
    for (const auto& [name, value] : env)
        environment.insert(name, value);
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(QString::fromStdString(workDir));
    process.start(KESTRIN_BUILD_DIR "/kestrin", {});
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
