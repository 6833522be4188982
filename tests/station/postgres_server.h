#pragma once
// A PostgreSQL server of the test's own: initdb and pg_ctl on a temporary folder, listening on a
// Unix socket in that folder and on no TCP address at all. Run as root, the server runs as the
// unprivileged user `postgres` (made by Debian's postgresql package) through runuser. A guard
// process, in a session of its own, stops the server and removes the folder as soon as the
// program that made it has ended, however it ended (a crash, a time-out's kill).
//
//   PostgresServer server;                    // made and started; no server and error() on failure
//   ASSERT_TRUE(server.running()) << server.error();
//   server.url()                              // postgresql://kestrin@%2Ftmp%2F...:5432/postgres
//   server.stop(); server.start();            // as a database server goes away and comes back
//
// `durable` keeps each commit's flush to disk, as a real server does; without it the server
// skips them, which tests do not need. With a `tls` certificate and key the server also listens on
// 127.0.0.1 (tcpPort()), with ssl=on; plain connections there are still taken.

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>
#include <string>

struct PostgresTls {
    QString certificate, key; // PEM files; the server gets copies of its own
};

class PostgresServer {
public:
    explicit PostgresServer(bool durable = false, std::optional<PostgresTls> tls = std::nullopt);
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    bool running() const { return running_; }
    const std::string& error() const { return error_; }
    std::string url() const;
    // The Unix socket the server listens on.
    std::string socketPath() const;
    // With TLS: the port on 127.0.0.1; 0 without.
    int tcpPort() const { return tls_ ? port_ : 0; }
    // Runs SQL as the server's own superuser (kestrin), through psql; false and error() on failure.
    bool sql(const QString& statements);

    bool stop();
    bool start();

private:
    bool make();
    bool takeCertificate();
    void guard();
    bool run(const QString& program, const QStringList& args);
    QStringList asServerUser(const QString& program, const QStringList& args) const;

    QTemporaryDir dir_;
    QString bin_;
    bool durable_;
    std::optional<PostgresTls> tls_;
    int port_ = 5432;
    bool running_ = false;
    std::string error_;
};
