#include "test_authority.h"

#include <QDir>
#include <QFile>
#include <QProcess>

TestAuthority::TestAuthority(QString folder, QString name) : folder_(std::move(folder)), name_(std::move(name))
{
    made_ = openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", path("ca.key"), "-out", path("ca.pem"),
                     "-days", "2", "-subj", "/CN=Kestrin test authority " + name_});
}

bool TestAuthority::sign(const QString& server, const QString& ip)
{
    QFile extensions(path(server + ".ext"));
    if (!extensions.open(QIODevice::WriteOnly) || extensions.write(("subjectAltName=IP:" + ip + "\n").toUtf8()) < 0) {
        error_ = extensions.fileName() + ": " + extensions.errorString();
        return false;
    }
    extensions.close();
    return made_ &&
           openssl({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", path(server + ".key"), "-out",
                    path(server + ".csr"), "-subj", "/CN=" + ip}) &&
           openssl({"x509", "-req", "-in", path(server + ".csr"), "-CA", path("ca.pem"), "-CAkey", path("ca.key"),
                    "-CAcreateserial", "-out", path(server + ".pem"), "-days", "2", "-extfile", path(server + ".ext")});
}

QString TestAuthority::path(const QString& file) const
{
    return QDir(folder_).filePath(name_ + "-" + file);
}

bool TestAuthority::openssl(const QStringList& args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start("openssl", args);
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    error_ = "openssl " + args.front() + ": " + process.errorString() + "\n" + QString::fromLocal8Bit(process.readAll());
    return false;
}
