#pragma once
// What the station keeps of one run's journal (kestrin's standard error in unattended mode), and
// the facts it reads from it.
//
// take() is given the bytes as they arrive, in pieces of any size, and splits them into lines.
// Each line is read as one journal event (journal_line.h): `progress:` lines give the image that
// streams and its counts, `upload:`, `answer:` and `image:` lines are collected for the record,
// `script:` and `kestrin:` give the script's digest and the program's version, `result: fail:`
// the reason of a failure and `qt:` the note of a crash.
//
// Bounds, so that a process that never writes a line feed, or writes megabytes, cannot grow the
// station's memory: a line is kept up to 4096 bytes (the rest of it is dropped and the line ends
// in " [cut]"); the journal keeps its first 1 MiB of lines, the uploads, answers and images
// 64 KiB each; what is dropped is counted, and noteDroppedBytes() says so in a `station:` line,
// which, like the station's own lines (addStationLine), is always kept.
//
// Every line the journal keeps also goes to the sink, as it is kept: the run's journal file, so
// that what reached the disk is the journal up to its last line. A pure class: no process, no
// file, no clock.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Text kept up to a number of bytes; what does not fit is counted.
class BoundedText {
public:
    explicit BoundedText(std::size_t limit) : limit_(limit) {}
    // True when the line was kept.
    bool appendLine(std::string_view line);
    void appendBeyondLimit(std::string_view line); // the station's own few notes always fit
    const std::string& text() const { return text_; }
    std::size_t droppedBytes() const { return dropped_; }

private:
    std::size_t limit_;
    std::string text_;
    std::size_t dropped_ = 0;
};

inline constexpr std::size_t kMaxJournalLineBytes = 4096;
inline constexpr std::size_t kMaxJournalBytes = 1 << 20;
inline constexpr std::size_t kMaxUploadsBytes = 64 << 10;

class RunJournal {
public:
    using Sink = std::function<void(std::string_view line)>;

    // `upload_word` is the first word of the configuration's upload header.
    RunJournal(std::string upload_word, Sink sink);

    // Bytes of the journal as they arrive; `after_line`, when given, is called after each line
    // is taken, so that a viewer sees every state the lines go through.
    void take(std::string_view bytes, const std::function<void()>& after_line = {});
    // The input has ended: a last line without its line feed is taken.
    void endOfInput();
    // A line of the station's own, kept beyond the bounds.
    void addStationLine(const std::string& line);
    // A `station:` line counting what the bounds dropped, when anything was.
    void noteDroppedBytes();

    const std::string& text() const { return journal_.text(); }
    const std::string& uploads() const { return uploads_.text(); }
    const std::string& answers() const { return answers_.text(); }
    const std::string& images() const { return images_.text(); }
    const std::string& scriptSha256() const { return script_sha256_; }
    const std::string& kestrinVersion() const { return kestrin_version_; }
    // The REASON of a `result: fail: REASON` line; nothing without one.
    const std::optional<std::string>& resultReason() const { return result_reason_; }
    const std::string& crashNote() const { return crash_note_; }

    // True from a `progress:` line until the image's `upload:` line.
    bool uploading() const { return uploading_; }
    const std::string& progressFile() const { return progress_file_; }
    std::uint64_t progressSent() const { return progress_sent_; }
    std::uint64_t progressTotal() const { return progress_total_; }

private:
    void takeLine(const std::string& line, const std::function<void()>& after_line);

    std::string upload_word_;
    Sink sink_;
    std::string partial_line_;
    bool cutting_line_ = false;
    BoundedText journal_{kMaxJournalBytes};
    BoundedText uploads_{kMaxUploadsBytes};
    BoundedText answers_{kMaxUploadsBytes};
    BoundedText images_{kMaxUploadsBytes};
    std::string script_sha256_, kestrin_version_;
    std::optional<std::string> result_reason_;
    std::string crash_note_;
    bool uploading_ = false;
    std::string progress_file_;
    std::uint64_t progress_sent_ = 0, progress_total_ = 0;
};
