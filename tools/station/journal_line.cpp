#include "tools/station/journal_line.h"

#include <array>
#include <optional>
#include <utility>

namespace {

struct PlainKind {
    std::string_view prefix;
    JournalKind kind;
};

// Kinds whose rest is one text, taken as it is.
constexpr std::array kPlainKinds = {
    PlainKind{"status: ", JournalKind::Status},     PlainKind{"message: ", JournalKind::Message},
    PlainKind{"detail: ", JournalKind::Detail},     PlainKind{"answer: ", JournalKind::Answer},
    PlainKind{"question: ", JournalKind::Question}, PlainKind{"open: ", JournalKind::Open},
    PlainKind{"font: ", JournalKind::Font},         PlainKind{"qt: ", JournalKind::Qt},
    PlainKind{"kestrin: ", JournalKind::Kestrin},
};

bool take_prefix(std::string_view& text, std::string_view prefix)
{
    if (!text.starts_with(prefix))
        return false;
    text.remove_prefix(prefix.size());
    return true;
}

bool all_of(std::string_view text, bool (*accepts)(char))
{
    for (char c : text)
        if (!accepts(c))
            return false;
    return true;
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

bool is_lower_hex(char c)
{
    return is_digit(c) || (c >= 'a' && c <= 'f');
}

std::optional<std::uint64_t> decimal(std::string_view digits, std::size_t most = kMaxProgressDigits)
{
    if (digits.empty() || digits.size() > most || !all_of(digits, is_digit))
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : digits)
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    return value;
}

// The next field up to a single blank; false when there is no blank.
bool take_field(std::string_view& text, std::string_view& field)
{
    const std::size_t blank = text.find(' ');
    if (blank == std::string_view::npos)
        return false;
    field = text.substr(0, blank);
    text.remove_prefix(blank + 1);
    return true;
}

JournalEvent progress_of(std::string_view rest)
{
    const std::size_t blank = rest.rfind(' ');
    if (blank == std::string_view::npos)
        return {};
    const std::string_view counts = rest.substr(blank + 1);
    const std::size_t slash = counts.find('/');
    if (slash == std::string_view::npos)
        return {};
    const auto sent = decimal(counts.substr(0, slash));
    const auto total = decimal(counts.substr(slash + 1));
    if (!sent || !total || *sent > *total)
        return {};
    JournalEvent event{.kind = JournalKind::Progress, .file = rest.substr(0, blank)};
    event.sent = *sent;
    event.total = *total;
    return event;
}

JournalEvent upload_of(std::string_view rest, std::string_view upload_word)
{
    constexpr std::string_view kComplete = " -> complete";
    constexpr std::string_view kIncomplete = " -> incomplete";
    const bool complete = rest.ends_with(kComplete);
    if (!complete && !rest.ends_with(kIncomplete))
        return {};
    const std::string_view middle = rest.substr(0, rest.size() - (complete ? kComplete : kIncomplete).size());
    const std::size_t first = middle.find(": ");
    if (first == std::string_view::npos)
        return {};
    std::size_t split = first;
    while (split != std::string_view::npos && !has_upload_header_form(middle.substr(split + 2), upload_word))
        split = middle.find(": ", split + 1);
    if (split == std::string_view::npos)
        split = first;
    return {.kind = JournalKind::Upload,
            .file = middle.substr(0, split),
            .header = middle.substr(split + 2),
            .complete = complete};
}

// "FILE: SHA256" with the digest at the end; the FILE and the digest, or nothing.
std::optional<std::pair<std::string_view, std::string_view>> file_and_digest(std::string_view rest)
{
    constexpr std::size_t kTail = 2 + kSha256HexDigits;
    if (rest.size() < kTail || rest.substr(rest.size() - kTail, 2) != ": ")
        return std::nullopt;
    const std::string_view digest = rest.substr(rest.size() - kSha256HexDigits);
    if (!all_of(digest, is_lower_hex))
        return std::nullopt;
    return std::pair{rest.substr(0, rest.size() - kTail), digest};
}

JournalEvent script_of(std::string_view rest)
{
    const auto parts = file_and_digest(rest);
    if (!parts)
        return {};
    return {.kind = JournalKind::Script, .text = parts->second, .file = parts->first};
}

// "FILE: LENGTH SHA256": the digest after the last blank, the length between it and the ": "
// before it.
JournalEvent image_of(std::string_view rest)
{
    const std::size_t blank = rest.rfind(' ');
    if (blank == std::string_view::npos)
        return {};
    const std::string_view digest = rest.substr(blank + 1);
    const std::string_view head = rest.substr(0, blank);
    const std::size_t colon = head.rfind(": ");
    if (digest.size() != kSha256HexDigits || !all_of(digest, is_lower_hex) || colon == std::string_view::npos)
        return {};
    const auto length = decimal(head.substr(colon + 2), kMaxImageLengthDigits);
    if (!length)
        return {};
    JournalEvent event{.kind = JournalKind::Image, .text = digest, .file = head.substr(0, colon)};
    event.total = *length;
    return event;
}

JournalEvent result_of(std::string_view rest)
{
    if (rest == "pass")
        return {.kind = JournalKind::Result, .passed = true};
    if (rest == "fail")
        return {.kind = JournalKind::Result};
    if (take_prefix(rest, "fail: "))
        return {.kind = JournalKind::Result, .text = rest};
    return {};
}

} // namespace

bool has_upload_header_form(std::string_view text, std::string_view upload_word)
{
    std::string_view address, length, checksum;
    return !upload_word.empty() && take_prefix(text, upload_word) && take_prefix(text, " ") &&
           take_field(text, address) && !address.empty() && take_field(text, length) &&
           decimal(length).has_value() && take_field(text, checksum) && !checksum.empty() &&
           checksum.size() <= 4 && all_of(checksum, is_lower_hex);
}

JournalEvent parse_journal_line(std::string_view line, std::string_view upload_word)
{
    for (const PlainKind& plain : kPlainKinds)
        if (take_prefix(line, plain.prefix))
            return {.kind = plain.kind, .text = line};
    if (take_prefix(line, "progress: "))
        return progress_of(line);
    if (take_prefix(line, "upload: "))
        return upload_of(line, upload_word);
    if (take_prefix(line, "result: "))
        return result_of(line);
    if (take_prefix(line, "script: "))
        return script_of(line);
    if (take_prefix(line, "image: "))
        return image_of(line);
    return {};
}
