#pragma once
// The reply capture over one received chunk.
//
// While a capture is armed, every chunk that the unit sends is stored in rx_buf from rx_len on,
// and its bytes are examined in order: the first prompt character at an index of at least
// rx_min_len ends the capture. The NUL that ends the reply is written over the chunk's last byte,
// which is the prompt character itself when the prompt ends the chunk; otherwise the prompt and
// the bytes after it stay, all but the chunk's final byte. rx_len then returns to 0.
//
// The buffer never overflows and always holds terminated text:
//   - a chunk that does not fit behind rx_len is stored from index 0;
//   - of a chunk larger than the whole buffer only its newest bytes are kept, so that a prompt at
//     the end of a long reply still ends the capture;
//   - a chunk without a prompt leaves the text terminated behind its last byte.
//
// The serial link ends a capture on either prompt character, the TCP link only on the one awaited.

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kReplyBufferSize = 1000;

struct ReplyPrompts {
    char first;
    char second; // the same as `first` when only one character ends the capture
};

// Stores `chunk` and examines it; true when a prompt ended the capture.
bool capture_reply_chunk(char (&rx_buf)[kReplyBufferSize], int32_t& rx_len, int32_t rx_min_len,
                         const char* chunk, std::size_t count, ReplyPrompts prompts);
