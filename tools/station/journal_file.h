#pragma once
// A run's journal on disk: runs/<UTC start>/<unit>.log in the station folder, readable by its
// owner only (0600, its new folders 0700).
//
// The file is made when the run starts and each line is written with its own write(2) as it
// comes, so a station that dies keeps every line that had come before it died (a power cut may
// cost the lines still in the disk's cache). A write that fails (a full disk) is remembered in
// error() and the lines after it are not tried. Nothing is buffered and nothing blocks beyond the
// write itself.
//
//   unique_journal_path(folder, unit)   <unit>.log in folder, or <unit>-2.log, -3 ... when that
//                                       name is taken (a unit started twice within one second)
//   JournalFile::open(path)             makes the file (and its folders); false and error()
//   JournalFile::openToAppend(path)     the file as it is, for lines after its last
//   JournalFile::write(line)            the line and a line feed
//   read_journal_file(path, limit)      what reached the disk, at most `limit` bytes, ending in
//                                       a line feed (a line cut short by a crash gets one)

#include <QString>

#include <string>
#include <string_view>

QString unique_journal_path(const QString& folder, const QString& unit);

class JournalFile {
public:
    JournalFile() = default;
    ~JournalFile();
    JournalFile(const JournalFile&) = delete;
    JournalFile& operator=(const JournalFile&) = delete;

    bool open(const QString& path);
    // The file at `path`, its lines kept, written on at its end (made when missing).
    bool openToAppend(const QString& path);
    void write(std::string_view line);
    void close();

    const QString& path() const { return path_; }
    // Empty while every line reached the file.
    const QString& error() const { return error_; }

private:
    bool openWith(const QString& path, int flags);

    int fd_ = -1;
    QString path_, error_;
};

std::string read_journal_file(const QString& path, std::size_t limit);
