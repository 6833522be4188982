#include "tools/unit-sim/sim_options.h"

#include <charconv>
#include <functional>
#include <map>

namespace unit_sim {
namespace {

constexpr long long kMaxMilliseconds = 3600000;
constexpr long long kMaxStreamChunk = 1048576;

std::optional<long long> parse_number(const std::string& text, long long min, long long max)
{
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value < min || value > max)
        return std::nullopt;
    return value;
}

bool is_word(const std::string& text)
{
    return !text.empty() && text.find_first_of(" \r\n") == std::string::npos;
}

std::optional<int> hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return std::nullopt;
}

// The byte of "\xNN" at text[at], or nothing when two hex digits do not follow the x.
std::optional<char> hex_escape(const std::string& text, std::size_t at)
{
    if (at + 3 >= text.size() || text[at + 1] != 'x')
        return std::nullopt;
    const auto high = hex_digit(text[at + 2]);
    const auto low = hex_digit(text[at + 3]);
    if (!high || !low)
        return std::nullopt;
    return static_cast<char>(*high * 16 + *low);
}

// "WORD=TEXT", where in TEXT the two characters \n start a new line, \xNN is the byte with
// the hex value NN (NUL included) and \\ is one backslash; any other backslash stays.
std::optional<Reply> parse_reply(const std::string& text)
{
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos || !is_word(text.substr(0, equals)))
        return std::nullopt;
    Reply reply{text.substr(0, equals), {}};
    const std::string rest = text.substr(equals + 1);
    if (rest.empty())
        return reply;
    std::string line;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const char next = i + 1 < rest.size() ? rest[i + 1] : '\0';
        if (rest[i] != '\\') {
            line += rest[i];
        } else if (next == 'n') {
            reply.lines.push_back(std::move(line));
            line.clear();
            ++i;
        } else if (next == '\\') {
            line += '\\';
            ++i;
        } else if (const auto byte = hex_escape(rest, i)) {
            line += *byte;
            i += 3;
        } else {
            line += '\\';
        }
    }
    reply.lines.push_back(std::move(line));
    return reply;
}

class Parser {
public:
    explicit Parser(const std::vector<std::string>& args) : args_(args) {}

    OptionsResult run()
    {
        SimOptions options;
        for (next_ = 0; next_ < args_.size() && error_.empty();) {
            const std::string& name = args_[next_++];
            if (name == "--help" || name == "-h")
                return {std::nullopt, true, {}};
            if (name == "--version")
                return {std::nullopt, false, {}, true};
            take(name, options);
        }
        if (error_.empty())
            check_link(options);
        if (!error_.empty())
            return {std::nullopt, false, error_};
        return {options, false, {}};
    }

private:
    void take(const std::string& name, SimOptions& o)
    {
        UnitSettings& u = o.unit;
        const std::map<std::string, std::function<void()>> flags = {
            {"--no-echo", [&] { u.echo = false; }},
            {"--silent", [&] { u.silent = true; }},
            {"--normal-only", [&] { u.normal_only = true; }},
            {"--refuse", [&] { o.refuse = true; }},
            {"--control", [&] { o.control = true; }},
        };
        const std::map<std::string, std::function<void(const std::string&)>> valued = {
            {"--pty", [&](const std::string& v) { o.pty_path = v; }},
            {"--tcp", [&](const std::string& v) { number(v, 0, 65535, [&](long long n) { o.tcp_port = static_cast<std::uint16_t>(n); }); }},
            {"--prompts", [&](const std::string& v) { prompts(v, u); }},
            {"--loader-cmd", [&](const std::string& v) { word(v, u.loader_command); }},
            {"--upload-word", [&](const std::string& v) { word(v, u.upload_word); }},
            {"--reply", [&](const std::string& v) { reply(v, u); }},
            {"--save-dir", [&](const std::string& v) { u.save_dir = v; }},
            {"--wire-log", [&](const std::string& v) { o.wire_log = v; }},
            {"--baud", [&](const std::string& v) { number(v, 1, 10000000, [&](long long n) { o.baud = static_cast<std::uint32_t>(n); }); }},
            {"--erase-ms", [&](const std::string& v) { milliseconds(v, u.erase_time); }},
            {"--answer-delay-ms", [&](const std::string& v) { milliseconds(v, u.answer_delay); }},
            {"--flood", [&](const std::string& v) { number(v, 0, 1000000, [&](long long n) { u.flood_bytes = static_cast<std::size_t>(n); }); }},
            {"--quiet-after",
             [&](const std::string& v) { number(v, 1, 2147483647, [&](long long n) { u.quiet_after = static_cast<std::uint32_t>(n); }); }},
            {"--stream", [&](const std::string& v) { stream(v, o); }},
            {"--answer-every",
             [&](const std::string& v) { number(v, 1, 2147483647, [&](long long n) { u.answer_every = static_cast<std::uint32_t>(n); }); }},
            {"--drop-after",
             [&](const std::string& v) { number(v, 0, 2147483647, [&](long long n) { u.drop_after = static_cast<std::uint32_t>(n); }); }},
        };
        if (const auto flag = flags.find(name); flag != flags.end()) {
            flag->second();
        } else if (const auto option = valued.find(name); option != valued.end()) {
            if (next_ == args_.size())
                fail(name + " needs a value");
            else
                option->second(args_[next_++]);
        } else {
            fail("unknown option " + name);
        }
    }

    void number(const std::string& text, long long min, long long max, const std::function<void(long long)>& store)
    {
        if (const auto value = parse_number(text, min, max))
            store(*value);
        else
            fail(current() + " wants a number from " + std::to_string(min) + " to " + std::to_string(max) +
                 ", not '" + text + "'");
    }

    void milliseconds(const std::string& text, std::chrono::milliseconds& store)
    {
        number(text, 0, kMaxMilliseconds, [&](long long n) { store = std::chrono::milliseconds(n); });
    }

    void word(const std::string& text, std::string& store)
    {
        if (is_word(text))
            store = text;
        else
            fail(current() + " wants one word without blanks");
    }

    void prompts(const std::string& text, UnitSettings& u)
    {
        if (text.size() != 2 || text.find_first_of("\r\n") != std::string::npos) {
            fail("--prompts wants two characters: the normal prompt, then the loader prompt");
            return;
        }
        u.normal_prompt = text[0];
        u.loader_prompt = text[1];
    }

    // "BYTE,CHUNK": the byte 0..255 and the chunk size.
    void stream(const std::string& text, SimOptions& o)
    {
        const std::size_t comma = text.find(',');
        const auto byte = parse_number(text.substr(0, comma), 0, 255);
        const auto chunk = comma == std::string::npos ? std::nullopt
                                                      : parse_number(text.substr(comma + 1), 1, kMaxStreamChunk);
        if (byte && chunk)
            o.stream = StreamSpec{static_cast<unsigned char>(*byte), static_cast<std::size_t>(*chunk)};
        else
            fail("--stream wants BYTE,CHUNK: a byte from 0 to 255 and a chunk size from 1 to " +
                 std::to_string(kMaxStreamChunk) + ", not '" + text + "'");
    }

    void reply(const std::string& text, UnitSettings& u)
    {
        if (auto parsed = parse_reply(text))
            u.replies.push_back(std::move(*parsed));
        else
            fail("--reply wants WORD=TEXT, not '" + text + "'");
    }

    void check_link(const SimOptions& o)
    {
        if (o.pty_path.empty() == !o.tcp_port.has_value())
            fail("choose one link: --pty PATH or --tcp PORT");
        else if (o.refuse && !o.tcp_port)
            fail("--refuse works on --tcp only");
    }

    std::string current() const { return args_[next_ - 2]; }
    void fail(const std::string& text)
    {
        if (error_.empty())
            error_ = text;
    }

    const std::vector<std::string>& args_;
    std::size_t next_ = 0;
    std::string error_;
};

}  // namespace

OptionsResult parse_sim_options(const std::vector<std::string>& args)
{
    return Parser(args).run();
}

std::string usage_text()
{
    return R"(usage: kestrin-unit-sim (--pty PATH | --tcp PORT) [options]
       kestrin-unit-sim --help | --version

A stand-in for the video processing unit: it echoes, shows its prompts,
switches to loader mode and takes flash image uploads. Events go to
standard output, one line each.

Link:
  --pty PATH            make PATH a symbolic link to a new pseudo-terminal
  --tcp PORT            listen on 127.0.0.1:PORT, one client at a time
                        (0 picks a free port; see the "listening" event)
  --baud N              pace both directions to N/10 bytes per second
  --wire-log FILE       append every received byte to FILE

Unit:
  --no-echo             do not echo received characters
  --prompts AB          normal prompt A and loader prompt B (default #>)
  --loader-cmd WORD     the loader-mode command (default LOADR)
  --upload-word WORD    first field of an upload header (default LF)
  --reply WORD=TEXT     answer lines beginning with WORD with TEXT; in TEXT
                        \n starts a new line, \xNN is the byte of hex value
                        NN (\x00 a NUL), \\ a backslash (repeatable)
  --save-dir DIR        keep each complete image as DIR/image-N.bin
  --erase-ms N          image bytes sooner than N ms after the header are an
                        error (the unit is still erasing)
  --control             read lines from standard input: "absent" takes the
                        unit off its fixture (its device stays, it answers
                        nothing), "present" puts a fresh unit there

Faults:
  --silent              read and log, never answer anything
  --normal-only         do not know the loader-mode command
  --drop-after N        close the link after N bytes of an image (a pty
                        vanishes and the simulator ends)
  --refuse              TCP: close each connection as soon as it is made
  --flood N             send N bytes of noise after every prompt
  --answer-delay-ms N   wait N ms before answering a carriage return
  --quiet-after N       fall silent for good after the Nth prompt
  --stream BYTE,CHUNK   while silent, send chunks of CHUNK bytes (at most
                        1048576) of the byte BYTE (0-255) back to back
  --answer-every N      answer only one bare carriage return in N (the 1st,
                        the N+1st, ...), as a unit with a bad contact
)";
}

}  // namespace unit_sim
