#pragma once
// A temporary directory that tests can make the working directory, with small file helpers.

#include <QDir>
#include <QTemporaryDir>

#include <fstream>
#include <string>

class TempWorkDir {
public:
    TempWorkDir() : previous_(QDir::currentPath()) { QDir::setCurrent(dir_.path()); }
    ~TempWorkDir() { QDir::setCurrent(previous_); }

    std::string path(const std::string& name = {}) const
    {
        return name.empty() ? dir_.path().toStdString() : dir_.filePath(QString::fromStdString(name)).toStdString();
    }
    std::string write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream out(path(name), std::ios::binary);
        out << bytes;
        return path(name);
    }

private:
    QTemporaryDir dir_;
    QString previous_;
};
