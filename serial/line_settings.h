// Line settings of a serial port: the part of a port's configuration that the
// device itself carries out (rate, character frame, hardware flow control).
#pragma once

#include <cstdint>

// Parity of the character frame, numbered 0..4 in this order.
enum TParity { pNone, pOdd, pEven, pMark, pSpace };

struct LineSettings {
    int32_t baud = 19200;
    TParity parity = pNone;
    uint16_t data_bits = 8;   // 5..8
    uint16_t stop_bits = 1;   // 1 or 2
    bool rts_cts = false;     // device drops RTS when its input fills, sends only while CTS is set
    bool operator==(const LineSettings&) const = default;
};
