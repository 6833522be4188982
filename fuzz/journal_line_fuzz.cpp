// A journal line as the station reads it, from any bytes another process may write: every text
// of the event lies inside the line, the kind follows from the line's prefix alone, and each
// kind's fields put together give back the line exactly: the plain kinds' text is the rest, a
// progress line's counts are the digits after its last blank (SENT never above TOTAL), an upload
// line's header begins at the first ": " after which the header form holds (at the first ": "
// when none does), a result is "pass", "fail" or "fail: REASON", and a script or image line ends
// in its 64-digit digest (after its decimal length, for an image).
//
// Input: a byte giving the length of the upload word (0 to 7), the word, then the line.

#include "fuzz/fuzz_check.h"
#include "tools/station/journal_line.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

bool inside(std::string_view part, std::string_view line)
{
    return part.empty() || (part.data() >= line.data() && part.data() + part.size() <= line.data() + line.size());
}

bool is_count(std::string_view digits, std::uint64_t value)
{
    if (digits.empty() || digits.size() > kMaxProgressDigits)
        return false;
    std::uint64_t read = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        read = read * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return read == value;
}

void check_progress(const JournalEvent& e, std::string_view line)
{
    const std::string head = "progress: " + std::string(e.file) + " ";
    FUZZ_CHECK(line.starts_with(head));
    const std::string_view counts = line.substr(head.size());
    FUZZ_CHECK(counts.find(' ') == std::string_view::npos);
    const std::size_t slash = counts.find('/');
    FUZZ_CHECK(slash != std::string_view::npos);
    FUZZ_CHECK(is_count(counts.substr(0, slash), e.sent) && is_count(counts.substr(slash + 1), e.total));
    FUZZ_CHECK(e.sent <= e.total);
}

void check_upload(const JournalEvent& e, std::string_view line, std::string_view word)
{
    FUZZ_CHECK(line == "upload: " + std::string(e.file) + ": " + std::string(e.header) +
                           (e.complete ? " -> complete" : " -> incomplete"));
    const std::string middle = std::string(e.file) + ": " + std::string(e.header);
    const bool formed = has_upload_header_form(e.header, word);
    for (std::size_t at = middle.find(": "); at < e.file.size(); at = middle.find(": ", at + 1))
        FUZZ_CHECK(formed && !has_upload_header_form(std::string_view(middle).substr(at + 2), word));
}

bool is_digest(std::string_view text)
{
    return text.size() == kSha256HexDigits &&
           std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

void check_script(const JournalEvent& e, std::string_view line)
{
    FUZZ_CHECK(is_digest(e.text));
    FUZZ_CHECK(line == "script: " + std::string(e.file) + ": " + std::string(e.text));
}

void check_image(const JournalEvent& e, std::string_view line)
{
    FUZZ_CHECK(is_digest(e.text));
    const std::string head = "image: " + std::string(e.file) + ": ";
    FUZZ_CHECK(line.starts_with(head) && line.ends_with(" " + std::string(e.text)));
    const std::string_view digits = line.substr(head.size(), line.size() - head.size() - kSha256HexDigits - 1);
    FUZZ_CHECK(digits.size() <= kMaxImageLengthDigits && is_count(digits, e.total));
}

void check_result(const JournalEvent& e, std::string_view line)
{
    if (e.passed)
        FUZZ_CHECK(line == "result: pass" && e.text.empty());
    else
        FUZZ_CHECK(line == "result: fail" ? e.text.empty() : line == "result: fail: " + std::string(e.text));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t word_length = input.empty() ? 0 : std::min<std::size_t>(data[0] % 8, size - 1);
    const std::string word(input.substr(std::min<std::size_t>(1, size), word_length));
    const std::string line(input.substr(std::min(size, 1 + word_length)));

    const JournalEvent e = parse_journal_line(line, word);
    FUZZ_CHECK(inside(e.text, line) && inside(e.file, line) && inside(e.header, line));
    const std::string_view kind = std::string_view(line).substr(0, line.find(": ") + 2);
    switch (e.kind) {
    case JournalKind::Progress:
        check_progress(e, line);
        break;
    case JournalKind::Upload:
        check_upload(e, line, word);
        break;
    case JournalKind::Result:
        check_result(e, line);
        break;
    case JournalKind::Script:
        check_script(e, line);
        break;
    case JournalKind::Image:
        check_image(e, line);
        break;
    case JournalKind::Unknown:
        FUZZ_CHECK(e.text.empty() && e.file.empty() && e.header.empty());
        break;
    default:
        FUZZ_CHECK(line == std::string(kind) + std::string(e.text));
        FUZZ_CHECK(kind == "status: " || kind == "message: " || kind == "detail: " || kind == "answer: " ||
                   kind == "question: " || kind == "open: " || kind == "font: " || kind == "qt: " ||
                   kind == "kestrin: ");
        break;
    }
    if (e.kind != JournalKind::Unknown)
        FUZZ_CHECK(kind == "progress: " || kind == "upload: " || kind == "result: " || kind == "script: " ||
                   kind == "image: " || e.kind < JournalKind::Progress);
    return 0;
}
