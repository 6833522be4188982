#include "link/reply_capture.h"

#include <cstring>

bool capture_reply_chunk(char (&rx_buf)[kReplyBufferSize], int32_t& rx_len, int32_t rx_min_len,
                         const char* chunk, std::size_t count, ReplyPrompts prompts)
{
    constexpr std::size_t kMaxText = kReplyBufferSize - 1;
    if (count > kMaxText) {
        chunk += count - kMaxText;
        count = kMaxText;
    }
    if (rx_len < 0 || static_cast<std::size_t>(rx_len) + count >= kReplyBufferSize)
        rx_len = 0;
    const std::size_t start = static_cast<std::size_t>(rx_len);
    if (count > 0)
        std::memcpy(rx_buf + start, chunk, count);

    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t p = start + k;
        const char c = rx_buf[p];
        if ((c == prompts.first || c == prompts.second) && static_cast<int64_t>(p) >= rx_min_len) {
            rx_buf[start + count - 1] = '\0';
            rx_len = 0;
            return true;
        }
        rx_len = static_cast<int32_t>(p + 1);
    }
    rx_buf[rx_len] = '\0';
    return false;
}
