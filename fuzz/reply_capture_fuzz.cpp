// The reply capture over any sequence of chunks, with either rule: the serial one (either prompt
// ends the capture) and the TCP one (only the awaited prompt). Whatever comes, rx_len stays
// inside the buffer, the text is always terminated inside it, the chunk's newest bytes are stored
// where the rules say, and the capture ends exactly when a prompt lands at or after rx_min_len.
//
// Input: the two prompt characters, a byte choosing the rule, rx_min_len and the starting rx_len
// (16 bits each, so both may lie outside the buffer), then chunks, each a length byte (times 8,
// so that chunks larger than the buffer come up) followed by its bytes.

#include "fuzz/fuzz_check.h"
#include "link/reply_capture.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace {

constexpr std::size_t kMaxText = kReplyBufferSize - 1;

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ == size_; }
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    int16_t word() { return static_cast<int16_t>(byte() | (byte() << 8)); }
    std::string_view bytes(size_t n)
    {
        n = std::min(n, size_ - at_);
        const std::string_view part(reinterpret_cast<const char*>(data_ + at_), n);
        at_ += n;
        return part;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

bool is_prompt(char c, ReplyPrompts prompts)
{
    return c == prompts.first || c == prompts.second;
}

void check_one_chunk(char (&rx_buf)[kReplyBufferSize], int32_t& rx_len, int32_t rx_min_len,
                     std::string_view chunk, ReplyPrompts prompts)
{
    const std::string_view kept = chunk.substr(chunk.size() - std::min(chunk.size(), kMaxText));
    const bool fits = rx_len >= 0 && static_cast<std::size_t>(rx_len) + kept.size() < kReplyBufferSize;
    const std::size_t start = fits ? static_cast<std::size_t>(rx_len) : 0;
    std::size_t first_prompt = kReplyBufferSize;
    for (std::size_t k = 0; k < kept.size() && first_prompt == kReplyBufferSize; ++k)
        if (is_prompt(kept[k], prompts) && static_cast<int64_t>(start + k) >= rx_min_len)
            first_prompt = start + k;

    const bool ended = capture_reply_chunk(rx_buf, rx_len, rx_min_len, chunk.data(), chunk.size(), prompts);

    FUZZ_CHECK(rx_len >= 0 && static_cast<std::size_t>(rx_len) < kReplyBufferSize);
    FUZZ_CHECK(std::memchr(rx_buf, '\0', kReplyBufferSize) != nullptr);
    FUZZ_CHECK(ended == (first_prompt != kReplyBufferSize));
    if (ended) {
        FUZZ_CHECK(rx_len == 0);
        FUZZ_CHECK(rx_buf[start + kept.size() - 1] == '\0');
        FUZZ_CHECK(std::memcmp(rx_buf + start, kept.data(), kept.size() - 1) == 0);
    } else {
        FUZZ_CHECK(static_cast<std::size_t>(rx_len) == start + kept.size());
        FUZZ_CHECK(rx_buf[rx_len] == '\0');
        FUZZ_CHECK(std::memcmp(rx_buf + start, kept.data(), kept.size()) == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input input(data, size);
    const char first = static_cast<char>(input.byte());
    const char second = static_cast<char>(input.byte());
    const bool tcp_rule = (input.byte() & 1) != 0;
    const ReplyPrompts prompts{first, tcp_rule ? first : second};
    const int32_t rx_min_len = input.word();
    int32_t rx_len = input.word();

    // A buffer of its own on the heap, so that a write one byte past it is caught.
    const auto storage = std::make_unique<char[]>(kReplyBufferSize);
    char(&rx_buf)[kReplyBufferSize] = *reinterpret_cast<char(*)[kReplyBufferSize]>(storage.get());
    std::memset(rx_buf, 'x', kReplyBufferSize);
    rx_buf[kMaxText] = '\0';
    while (!input.empty()) {
        const std::string_view chunk = input.bytes(std::size_t{input.byte()} * 8);
        check_one_chunk(rx_buf, rx_len, rx_min_len, chunk, prompts);
    }
    return 0;
}
