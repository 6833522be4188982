#pragma once
// Runs the real program, build/kestrin, in a working directory with the given environment, and
// collects its exit status and its standard error (the unattended journal).
//
//   run_kestrin(dir, env, timeout, in_child)       until it ends by itself (killed after timeout);
//                                                  in_child runs in the child before the program
//                                                  starts (to drop privileges, say)

#include <QProcess>
#include <QProcessEnvironment>

#include <functional>
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

inline void start_kestrin(QProcess& process, const std::string& workDir, const ProgramEnvironment& env,
                          const std::function<void()>& in_child = {})
{
    if (in_child)
        process.setChildProcessModifier(in_child);
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
                                 int timeoutMs = 60000, const std::function<void()>& in_child = {})
{
    QProcess process;
    start_kestrin(process, workDir, env, in_child);
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

// The journal without Qt's own diagnostic lines, and without the lines that name the program's
// version and the digests of the script and images (kestrin:, script:, image:), which the tests
// of those lines check on their own.
inline std::string journal_lines(const std::string& journal)
{
    std::string out;
    size_t start = 0;
    while (start < journal.size()) {
        size_t end = journal.find('\n', start);
        if (end == std::string::npos)
            end = journal.size();
        const std::string line = journal.substr(start, end - start);
        const bool left_out = line.starts_with("qt: ") || line.starts_with("kestrin: ") ||
                              line.starts_with("script: ") || line.starts_with("image: ");
        if (!left_out)
            out += line + "\n";
        start = end + 1;
    }
    return out;
}
