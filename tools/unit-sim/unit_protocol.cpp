#include "tools/unit-sim/unit_protocol.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace unit_sim {
namespace {

constexpr char kBackspace = 8;
constexpr char kDelete = 127;
constexpr unsigned char kFirstNoise = 33;  // '!'
constexpr unsigned char kLastNoise = 126;  // '~'

std::string hex16(std::uint16_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
    return text;
}

long long milliseconds_between(UnitProtocol::Clock::time_point from, UnitProtocol::Clock::time_point to)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

// An image being written to the save directory. It is written under a
// temporary name and takes its real name only when it is complete, so the
// directory never holds a cut image under an image's name.
class ImageFile {
public:
    explicit ImageFile(std::filesystem::path path)
        : path_(std::move(path)), partial_(path_.string() + ".part"), out_(partial_, std::ios::binary)
    {
    }
    ~ImageFile()
    {
        if (!finished_) {
            out_.close();
            std::error_code ignored;
            std::filesystem::remove(partial_, ignored);
        }
    }
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    void write(std::string_view bytes) { out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size())); }

    bool finish()
    {
        out_.close();
        std::error_code error;
        if (out_.fail())
            return false;
        std::filesystem::rename(partial_, path_, error);
        finished_ = !error;
        return finished_;
    }

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    std::filesystem::path partial_;
    std::ofstream out_;
    bool finished_ = false;
};

}  // namespace

struct UnitProtocol::Upload {
    UploadHeader header;
    Clock::time_point header_time;
    Clock::time_point first_byte_time;
    Clock::time_point last_byte_time;
    std::uint32_t received = 0;
    std::uint16_t sum = 0;
    std::unique_ptr<ImageFile> file;
};

UnitProtocol::UnitProtocol(UnitSettings settings, UnitSink& sink) : settings_(std::move(settings)), sink_(sink) {}

UnitProtocol::~UnitProtocol() = default;

void UnitProtocol::feed(std::string_view bytes, Clock::time_point now)
{
    dropped_ = false;
    while (!bytes.empty() && !dropped_) {
        if (upload_) {
            bytes.remove_prefix(take_image_bytes(bytes, now));
        } else {
            take_text_byte(bytes.front(), now);
            bytes.remove_prefix(1);
        }
    }
}

void UnitProtocol::link_lost()
{
    if (upload_) {
        sink_.event("error upload-cut bytes=" + std::to_string(upload_->received) +
                    " length=" + std::to_string(upload_->header.length));
        upload_.reset();
    }
    line_.clear();
    typed_length_ = 0;
}

void UnitProtocol::take_away()
{
    link_lost();
    present_ = false;
    sink_.event("unit absent");
}

void UnitProtocol::put_on()
{
    link_lost();
    present_ = true;
    loader_mode_ = false;
    prompts_shown_ = 0;
    bare_returns_ = 0;
    sink_.event("unit present");
}

void UnitProtocol::take_text_byte(char c, Clock::time_point now)
{
    if (c == '\n')
        return;
    if (c == '\r') {
        end_line(now);
        return;
    }
    if (settings_.echo)
        send(std::string_view(&c, 1));
    if (c == kBackspace || c == kDelete) {
        if (typed_length_ == 0)
            return;
        if (typed_length_ <= line_.size())
            line_.pop_back();
        --typed_length_;
        return;
    }
    ++typed_length_;
    if (line_.size() < kMaxLineLength)
        line_.push_back(c);
}

void UnitProtocol::end_line(Clock::time_point now)
{
    const std::string line = std::move(line_);
    const std::size_t typed_length = typed_length_;
    line_.clear();
    typed_length_ = 0;
    sink_.event(line.empty() ? std::string("command") : "command " + escape_wire_text(line));
    if (typed_length > kMaxLineLength) {
        sink_.event("error long-line length=" + std::to_string(typed_length));
        answer({"?"});
        return;
    }
    obey(line, now);
}

void UnitProtocol::obey(const std::string& line, Clock::time_point now)
{
    if (line.empty()) {
        if (settings_.answer_every && bare_returns_++ % *settings_.answer_every != 0) {
            sink_.event("ignored");
            return;
        }
        answer({});
    } else if (loader_mode_ && begins_with_word(line, settings_.upload_word)) {
        auto header = parse_upload_header(line, settings_.upload_word);
        if (header) {
            begin_upload(std::move(*header), now);
        } else {
            sink_.event("error bad-header " + escape_wire_text(line));
            answer({"ERROR BAD HEADER"});
        }
    } else if (line == settings_.loader_command && !settings_.normal_only) {
        loader_mode_ = true;
        sink_.event("mode loader");
        answer({});
    } else if (const Reply* reply = find_reply(line)) {
        sink_.event("reply " + escape_wire_text(reply->word));
        answer(reply->lines);
    } else {
        answer({"?"});
    }
}

const Reply* UnitProtocol::find_reply(std::string_view line) const
{
    const auto found = std::find_if(settings_.replies.begin(), settings_.replies.end(),
                                    [&](const Reply& reply) { return begins_with_word(line, reply.word); });
    return found == settings_.replies.end() ? nullptr : &*found;
}

void UnitProtocol::begin_upload(UploadHeader header, Clock::time_point now)
{
    sink_.event("header word=" + escape_wire_text(header.word) + " address=" + escape_wire_text(header.address) +
                " length=" + std::to_string(header.length) + " checksum=" + escape_wire_text(header.checksum_text) +
                " version=" + escape_wire_text(header.version));
    begin_answer();
    upload_ = std::make_unique<Upload>();
    upload_->header = std::move(header);
    upload_->header_time = now;
    ++uploads_begun_;
    if (!settings_.save_dir.empty()) {
        const auto name = "image-" + std::to_string(uploads_begun_) + ".bin";
        upload_->file = std::make_unique<ImageFile>(std::filesystem::path(settings_.save_dir) / name);
    }
    if (drop_due())
        return;
    if (upload_->header.length == 0)
        finish_upload();
}

std::size_t UnitProtocol::take_image_bytes(std::string_view bytes, Clock::time_point now)
{
    Upload& upload = *upload_;
    if (upload.received == 0)
        note_first_image_byte(now);
    std::uint32_t room = upload.header.length - upload.received;
    if (settings_.drop_after)
        room = std::min(room, *settings_.drop_after - upload.received);
    const std::string_view taken = bytes.substr(0, std::min<std::size_t>(room, bytes.size()));
    upload.sum = byte_sum16(taken, upload.sum);
    upload.received += static_cast<std::uint32_t>(taken.size());
    upload.last_byte_time = now;
    if (upload.file)
        upload.file->write(taken);
    if (!drop_due() && upload.received == upload.header.length)
        finish_upload();
    return taken.size();
}

void UnitProtocol::note_first_image_byte(Clock::time_point now)
{
    upload_->first_byte_time = now;
    const long long ms = milliseconds_between(upload_->header_time, now);
    sink_.event("first-image-byte-ms " + std::to_string(ms));
    if (now - upload_->header_time < settings_.erase_time)
        sink_.event("error early-image-byte ms=" + std::to_string(ms));
}

bool UnitProtocol::drop_due()
{
    if (!settings_.drop_after || upload_->received < *settings_.drop_after)
        return false;
    const std::uint32_t received = upload_->received;
    upload_.reset();
    dropped_ = true;
    sink_.drop_link(received);
    return true;
}

void UnitProtocol::finish_upload()
{
    const std::unique_ptr<Upload> upload = std::move(upload_);
    sink_.event("image-bytes " + std::to_string(upload->received));
    if (upload->received > 0)
        sink_.event("image-ms " + std::to_string(milliseconds_between(upload->first_byte_time, upload->last_byte_time)));
    const bool sum_ok = upload->sum == upload->header.checksum;
    if (sum_ok)
        sink_.event("checksum ok " + hex16(upload->sum));
    else
        sink_.event("checksum bad got=" + hex16(upload->sum) + " want=" + hex16(upload->header.checksum));
    if (upload->file) {
        const std::string path = upload->file->path().string();
        sink_.event(upload->file->finish() ? "saved " + path : "error save-failed " + path);
    }
    send_lines_and_prompt({sum_ok ? "UPLOAD OK" : "UPLOAD BAD CHECKSUM"});
}

void UnitProtocol::answer(const std::vector<std::string>& lines)
{
    begin_answer();
    send_lines_and_prompt(lines);
}

// Every answer to a carriage return opens with a line end, after the delay
// of a slow unit.
void UnitProtocol::begin_answer()
{
    if (settings_.answer_delay.count() > 0)
        sink_.hold_output(settings_.answer_delay);
    send("\r\n");
}

void UnitProtocol::send_lines_and_prompt(const std::vector<std::string>& lines)
{
    for (const std::string& line : lines)
        send(line + "\r\n");
    const char prompt = loader_mode_ ? settings_.loader_prompt : settings_.normal_prompt;
    send(std::string_view(&prompt, 1));
    if (settings_.flood_bytes > 0)
        send(noise());
    if (settings_.quiet_after && prompts_shown_ < *settings_.quiet_after)
        ++prompts_shown_;
}

void UnitProtocol::send(std::string_view bytes)
{
    if (!quiet())
        sink_.send(bytes);
}

// Printable noise that a prompt search must not mistake for the prompt.
std::string UnitProtocol::noise()
{
    std::string text;
    text.reserve(settings_.flood_bytes);
    while (text.size() < settings_.flood_bytes) {
        const char c = static_cast<char>(kFirstNoise + next_noise_);
        next_noise_ = static_cast<unsigned char>((next_noise_ + 1) % (kLastNoise - kFirstNoise + 1));
        if (c != settings_.normal_prompt && c != settings_.loader_prompt)
            text.push_back(c);
    }
    return text;
}

std::string escape_wire_text(std::string_view text)
{
    std::string escaped;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            escaped += "\\r";
        } else if (c == '\n') {
            escaped += "\\n";
        } else if (c == '\\') {
            escaped += "\\\\";
        } else if (byte < 32 || byte > 126) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            escaped += hex;
        } else {
            escaped.push_back(c);
        }
    }
    return escaped;
}

}  // namespace unit_sim
