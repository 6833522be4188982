#pragma once
// A certificate authority of a test's own, made with openssl in a folder of the test's, and the
// server certificates it signs, for a server on 127.0.0.1 with TLS (postgres_server.h).
//
//   TestAuthority line(folder, "line");
//   line.sign("server", "127.0.0.1");          // line-server.pem and line-server.key
//   line.path("ca.pem")                         // what sslrootcert names
//
// Each step is false on failure, with openssl's own words in error().

#include <QString>
#include <QStringList>

class TestAuthority {
public:
    TestAuthority(QString folder, QString name);

    bool made() const { return made_; }
    // A certificate and key for a server at `ip`, which the certificate names as its address.
    bool sign(const QString& server, const QString& ip);
    QString path(const QString& file) const;
    const QString& error() const { return error_; }

private:
    bool openssl(const QStringList& args);

    QString folder_, name_, error_;
    bool made_ = false;
};
