#include "postgres_server.h"

#include <QCollator>
#include <QDir>
#include <QProcess>

#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace {

constexpr const char* kServerUser = "postgres";

// A port on 127.0.0.1 that nothing listens on now.
int free_port()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

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
PostgresServer::PostgresServer(bool durable, std::optional<PostgresTls> tls)
    : dir_("/tmp/kestrin-postgres-XXXXXX"), bin_(server_bin()), durable_(durable), tls_(std::move(tls))
{
    if (tls_)
        port_ = free_port();
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
           std::to_string(port_) + "/postgres";
}

std::string PostgresServer::socketPath() const
{
    return dir_.filePath(QString(".s.PGSQL.%1").arg(port_)).toStdString();
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
    return !tls_ || takeCertificate();
}

// The server's own copies of its certificate and key, owned by its user, the key private.
bool PostgresServer::takeCertificate()
{
    for (const auto& [from, to] : {std::pair{tls_->certificate, QString("server.pem")}, std::pair{tls_->key, QString("server.key")}}) {
        const QString copy = dir_.filePath("data/" + to);
        QFile::remove(copy);
        if (!QFile::copy(from, copy) || !QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner)) {
            error_ = "the certificate " + from.toStdString() + " cannot be copied";
            return false;
        }
        if (const passwd* user = getpwnam(kServerUser); geteuid() == 0 && user)
            if (chown(copy.toLocal8Bit().constData(), user->pw_uid, user->pw_gid) != 0)
                return false;
    }
    return true;
}

bool PostgresServer::sql(const QString& statements)
{
    QProcess psql;
    psql.setProcessChannelMode(QProcess::MergedChannels);
    psql.start(bin_ + "/psql", {"-h", dir_.path(), "-p", QString::number(port_), "-U", "kestrin", "-d", "postgres",
                                "-v", "ON_ERROR_STOP=1", "-q", "-c", statements});
    if (psql.waitForFinished(30000) && psql.exitStatus() == QProcess::NormalExit && psql.exitCode() == 0)
        return true;
    error_ = "psql: " + psql.readAll().toStdString();
    return false;
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
    QString options = QString("-c listen_addresses='%1' -k %2 -p %3")
                          .arg(tls_ ? "127.0.0.1" : "")
                          .arg(dir_.path())
                          .arg(port_);
    if (tls_)
        options += " -c ssl=on -c ssl_cert_file=server.pem -c ssl_key_file=server.key";
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
