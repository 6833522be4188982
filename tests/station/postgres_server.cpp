#include "postgres_server.h"

#include <QCollator>
#include <QDir>
#include <QProcess>

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>

namespace {

constexpr int kPort = 5432; // only the name of the socket in the server's own folder
constexpr const char* kServerUser = "postgres";

// The bin folder of the newest PostgreSQL that Debian's packages installed.
QString server_bin()
{
    QStringList versions = QDir("/usr/lib/postgresql").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCollator numeric;
    numeric.setNumericMode(true);
    std::sort(versions.begin(), versions.end(), numeric);
    for (auto version = versions.rbegin(); version != versions.rend(); ++version)
        if (QFile::exists("/usr/lib/postgresql/" + *version + "/bin/pg_ctl"))
            return "/usr/lib/postgresql/" + *version + "/bin";
    return {};
}

QString percent_encoded(const QString& path)
{
    return QString(path).replace("%", "%25").replace("/", "%2F");
}

} // namespace

// Under /tmp whatever TMPDIR says: the server's user must reach the folder, and its socket's path
// must stay short.
PostgresServer::PostgresServer(bool durable)
    : dir_("/tmp/kestrin-postgres-XXXXXX"), bin_(server_bin()), durable_(durable)
{
    if (bin_.isEmpty())
        error_ =
            "no PostgreSQL server under /usr/lib/postgresql (scripts/install-deps.sh installs it)";
    else if (make())
        start();
}

PostgresServer::~PostgresServer()
{
    if (running_)
        stop();
}

std::string PostgresServer::url() const
{
    return "postgresql://kestrin@" + percent_encoded(dir_.path()).toStdString() + ":" +
           std::to_string(kPort) + "/postgres";
}

std::string PostgresServer::socketPath() const
{
    return dir_.filePath(QString(".s.PGSQL.%1").arg(kPort)).toStdString();
}

QStringList PostgresServer::asServerUser(const QString& program, const QStringList& args) const
{
    if (geteuid() != 0)
        return QStringList{program} + args;
    return QStringList{"runuser", "-u", kServerUser, "--", program} + args;
}

bool PostgresServer::run(const QString& program, const QStringList& args)
{
    const QStringList command = asServerUser(bin_ + "/" + program, args);
    QProcess process;
    process.setWorkingDirectory(dir_.path()); // one the server's user may enter
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(command.front(), command.mid(1));
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
        process.exitCode() == 0)
        return true;
    error_ = command.join(' ').toStdString() + " failed: " + process.readAll().toStdString() +
             process.errorString().toStdString();
    return false;
}

bool PostgresServer::make()
{
    if (!dir_.isValid()) {
        error_ = "no temporary folder: " + dir_.errorString().toStdString();
        return false;
    }
    if (geteuid() == 0) {
        const passwd* user = getpwnam(kServerUser);
        if (!user ||
            chown(dir_.path().toLocal8Bit().constData(), user->pw_uid, user->pw_gid) != 0) {
            error_ = std::string("the folder cannot be given to the user ") + kServerUser +
                     " (scripts/install-deps.sh installs the postgresql package, which makes it)";
            return false;
        }
    }
    if (!run("initdb", {"-D", dir_.filePath("data"), "-A", "trust", "-U", "kestrin", "-E", "UTF8",
                        "--locale=C", "--no-sync"}))
        return false;
    guard();
    return true;
}

// The guard waits for the end of a pipe that only this process holds: when this process ends, by
// any way at all, the pipe closes and the guard stops the server and removes its folder.
void PostgresServer::guard()
{
    const QString stop =
        asServerUser(bin_ + "/pg_ctl", {"-D", dir_.filePath("data"), "-m", "immediate", "stop"})
            .join("' '");
    const QByteArray script =
        ("cat >/dev/null; '" + stop + "'; rm -rf '" + dir_.path() + "'").toLocal8Bit();
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return;
    if (fork() == 0) {
        // Only calls that are safe between fork and exec in a program with threads.
        setsid();
        dup2(ends[0], STDIN_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execl("/bin/sh", "sh", "-c", script.constData(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ends[0]); // the other end stays open until this process ends
}

bool PostgresServer::start()
{
    QString options = QString("-c listen_addresses='' -k %1 -p %2").arg(dir_.path()).arg(kPort);
    if (!durable_)
        options += " -F";
    running_ = run("pg_ctl", {"-D", dir_.filePath("data"), "-l", dir_.filePath("log"), "-w", "-t",
                              "60", "-o", options, "start"});
    return running_;
}

bool PostgresServer::stop()
{
    running_ = !run("pg_ctl", {"-D", dir_.filePath("data"), "-m", "fast", "-w", "stop"});
    return !running_;
}
