#pragma once
// One line of a unit's journal (kestrin's standard error in unattended mode) read as one event.
//
// Every journal line is "KIND: REST". The kinds the station acts on:
//
//   status: TEXT                      the program's status line
//   message: TEXT, detail: TEXT       a message box, and why (right after it)
//   answer: TEXT                      a query's answer
//   progress: FILE SENT/TOTAL         an image streams; FILE may hold blanks, so the numbers
//                                     are taken after the last blank
//   upload: FILE: HEADER -> complete  (or -> incomplete) an image's transfer ended; FILE may hold
//                                     ": ", so HEADER begins at the first ": " after which the
//                                     text has the header's form: the upload word, the address,
//                                     the decimal length, the hexadecimal checksum and the version,
//                                     separated by single blanks; with no such place, at the
//                                     first ": "
//   result: pass, result: fail: REASON   the last line of a run that ended by itself
//   kestrin: VERSION                  the program's version, as its run starts
//   script: FILE: SHA256              the script read and its SHA-256; FILE may hold ": ", so the
//                                     digest is the 64 lower-case hexadecimal digits at the end
//   image: FILE: LENGTH SHA256        an image measured: its decimal length (at most 10 digits)
//                                     and the SHA-256 of its bytes, both taken from the end
//   question:, open:, font:, qt:      kept as they are
//
// Anything else, or a known kind whose rest does not have its form, is Unknown: the line is
// still part of the journal, it just changes nothing. The texts of an event are views into the
// line (escapes such as \r and \xNN are left as written), so the line must outlive the event.
// A pure function of its input: safe on any bytes, no allocation.

#include <cstdint>
#include <string_view>

enum class JournalKind {
    Unknown, Status, Message, Detail, Answer, Question, Open, Font, Qt, Kestrin,
    Progress, Upload, Result, Script, Image
};

// The `{}` let the parser build events with designated initializers.
struct JournalEvent {
    JournalKind kind = JournalKind::Unknown;
    std::string_view text{}; // status/message/detail/answer/question/open/font/qt/kestrin: the
                             // rest; result: the REASON of a failure; script, image: the SHA-256
    std::string_view file{}; // progress, upload, script, image
    std::uint64_t sent = 0, total = 0; // progress; image: total is the length
    std::string_view header{}; // upload
    bool complete = false;   // upload
    bool passed = false;     // result
};

// SENT and TOTAL have at most this many digits, so they never overflow.
inline constexpr std::size_t kMaxProgressDigits = 15;
// An image's LENGTH has at most this many digits (the header's length field is 32 bits).
inline constexpr std::size_t kMaxImageLengthDigits = 10;
inline constexpr std::size_t kSha256HexDigits = 64;

JournalEvent parse_journal_line(std::string_view line, std::string_view upload_word);

// True when `text` has the upload header's form for `upload_word`.
bool has_upload_header_form(std::string_view text, std::string_view upload_word);
