// The simulated unit's side of the conversation: a state machine that takes
// the bytes received from the link and answers them, independent of the link.
//
// Text mode. Every received character is echoed (unless echo is off). A
// carriage return ends the command line; the unit answers "\r\n", then each
// output line of the command followed by "\r\n", then its prompt character
// with nothing after it: '#' in normal mode, '>' in loader mode. Line feeds
// are ignored wherever they stand, so "\r\n" ends a line once. Backspace (8)
// and DEL (127) erase the last character of the line being typed. A line is
// kept up to kMaxLineLength characters; a longer one is answered with "?".
//
// Commands, in the order they are tried:
//   - an empty line: just "\r\n" and the prompt;
//   - in loader mode, a line whose first word is the upload word: an upload
//     header (see upload_header.h). A well-formed one is answered "\r\n" and
//     the unit then takes exactly `length` raw bytes: no echo, carriage
//     returns and line feeds are data. When the last one has come it answers
//     "UPLOAD OK\r\n" or "UPLOAD BAD CHECKSUM\r\n" and the prompt. A length
//     of 0 completes at once. A malformed one gets "ERROR BAD HEADER\r\n";
//   - the loader-mode command (LOADR): switches to loader mode, no output
//     (with normal_only the unit does not know it and answers "?");
//   - a line whose first word has a configured reply: the reply's lines;
//   - anything else: "?".
// The unit stays in loader mode once there; the mode survives the loss of a
// link, a half-typed line or a half-received image does not.
//
// Faults: silent (reads and logs but answers nothing at all), quiet_after N
// (after its Nth prompt the unit falls silent for good), drop_after N
// (after N bytes of an image the unit asks the link to go away), flood_bytes
// (printable noise without either prompt character after every prompt),
// answer_delay (the answer to a carriage return leaves that much later),
// erase_time (image bytes sooner than that after the header's carriage
// return are logged as an error, as a real unit would still be erasing),
// answer_every N (only one bare carriage return in N is answered: the 1st,
// the N+1st, ...; the others get nothing, as a unit with a bad contact).
//
// Swapping units: take_away() is the unit lifted off its fixture while its
// device stays (it answers nothing, and a half-received image is cut);
// put_on() is a fresh unit put there, in normal mode.
//
// Event log. The unit and its links report what happens as one line per
// event; tests read these lines, so the format is stable. Texts taken from
// the wire are escaped by escape_wire_text: "\r", "\n", "\\", and "\xNN" (two
// lower-case hex digits) for any other byte outside 32..126.
//   listening PORT              TCP: listening on 127.0.0.1:PORT
//   pty PATH -> SLAVE           the pseudo-terminal is ready; PATH links to SLAVE
//   connected | disconnected    TCP: a client came or went
//   refused                     TCP, refuse: a client was accepted and closed at once
//   command LINE                a line ended by a carriage return ("command" alone
//                               for an empty line)
//   mode loader                 the loader-mode command was obeyed
//   reply WORD                  a configured reply was sent
//   header word=W address=A length=N checksum=C version=V
//   first-image-byte-ms MS      from the header's carriage return to the first image byte
//   error early-image-byte ms=MS   that byte came before erase_time had passed
//   image-bytes N               the image is complete after N bytes
//   image-ms MS                 from its first to its last byte (not for length 0)
//   checksum ok C | checksum bad got=G want=W   (lower-case hex)
//   saved PATH | error save-failed PATH
//   error bad-header LINE
//   error long-line length=N
//   error upload-cut bytes=N length=L   the link went away in the middle of an image
//   dropped after N             drop_after: the link is closed after N image bytes
//   error output-overflow       the peer reads nothing and kMaxQueuedOutput bytes wait;
//                               more output is lost
//   error link TEXT             the link failed (the simulator then ends)
//   unit absent | unit present  take_away() | put_on()
//   ignored                     answer_every: a carriage return left unanswered
//   stopped                     SIGINT or SIGTERM: the simulator ends
//
// Interface:
//   UnitSettings                what the unit is like (prompts, words, replies, faults)
//   UnitSink                    where its output, pauses and events go (the link)
//   UnitProtocol(settings, sink)
//     feed(bytes, now)          bytes received at time `now`
//     link_lost()               the peer went away
//     take_away(), put_on()     the unit is taken off its fixture, a fresh one put on
//     loader_mode(), receiving_image()
//   escape_wire_text(text)      a wire text made fit for one event line
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/unit-sim/upload_header.h"

namespace unit_sim {

constexpr std::size_t kMaxLineLength = 1024;

struct Reply {
    std::string word;
    std::vector<std::string> lines;
};

struct UnitSettings {
    bool echo = true;
    char normal_prompt = '#';
    char loader_prompt = '>';
    std::string loader_command = "LOADR";
    std::string upload_word = "LF";
    std::vector<Reply> replies;
    std::string save_dir;  // empty: images are not kept
    std::chrono::milliseconds erase_time{0};
    std::chrono::milliseconds answer_delay{0};
    bool silent = false;
    std::optional<std::uint32_t> quiet_after;  // prompts shown before the unit falls silent
    bool normal_only = false;
    std::optional<std::uint32_t> drop_after;
    std::size_t flood_bytes = 0;
    std::optional<std::uint32_t> answer_every;  // bare carriage returns: one answered in N
};

class UnitSink {
public:
    virtual ~UnitSink() = default;
    virtual void send(std::string_view bytes) = 0;
    // Bytes sent after this call leave the link no sooner than `delay` from now.
    virtual void hold_output(std::chrono::milliseconds delay) = 0;
    virtual void event(std::string_view line) = 0;
    // Close the link after image_bytes bytes of an image; the unit takes
    // nothing more of the bytes being fed. The link logs "dropped after N"
    // once it has closed.
    virtual void drop_link(std::uint32_t image_bytes) = 0;
};

class UnitProtocol {
public:
    using Clock = std::chrono::steady_clock;

    UnitProtocol(UnitSettings settings, UnitSink& sink);
    ~UnitProtocol();
    UnitProtocol(const UnitProtocol&) = delete;
    UnitProtocol& operator=(const UnitProtocol&) = delete;

    void feed(std::string_view bytes, Clock::time_point now);
    void link_lost();
    void take_away();
    void put_on();

    bool loader_mode() const { return loader_mode_; }
    // The unit answers nothing: silent, or fallen silent after quiet_after prompts.
    bool quiet() const
    {
        return !present_ || settings_.silent ||
               (settings_.quiet_after && prompts_shown_ >= *settings_.quiet_after);
    }
    bool receiving_image() const { return upload_ != nullptr; }

private:
    struct Upload;

    void take_text_byte(char c, Clock::time_point now);
    std::size_t take_image_bytes(std::string_view bytes, Clock::time_point now);
    void end_line(Clock::time_point now);
    void obey(const std::string& line, Clock::time_point now);
    void begin_upload(UploadHeader header, Clock::time_point now);
    void note_first_image_byte(Clock::time_point now);
    bool drop_due();
    void finish_upload();
    const Reply* find_reply(std::string_view line) const;

    void answer(const std::vector<std::string>& lines);
    void begin_answer();
    void send_lines_and_prompt(const std::vector<std::string>& lines);
    void send(std::string_view bytes);
    std::string noise();

    UnitSettings settings_;
    UnitSink& sink_;
    bool loader_mode_ = false;
    std::string line_;
    std::size_t typed_length_ = 0;
    std::unique_ptr<Upload> upload_;
    int uploads_begun_ = 0;
    bool dropped_ = false;
    unsigned char next_noise_ = 0;
    std::uint32_t prompts_shown_ = 0;
    std::uint32_t bare_returns_ = 0;
    bool present_ = true;
};

std::string escape_wire_text(std::string_view text);

}  // namespace unit_sim
