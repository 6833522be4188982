#pragma once
// Holds an image transfer right after one of its blocks until Kestrin has noticed what the test
// waits for, for tests that make the link fail in the middle of an image whatever the link's
// buffers would still have taken.
//
//   BlockHold hold(progress_form, 1, [&] { return progress_form.cancel_flag == 1; });
//
// When the progress bar steps to `block`, the user-interface thread processes events and sleeps
// 1 ms in turn, as the transfer's own waits do, until `until` returns true or 60 s have passed.
// The transfer then goes on with its next block.

#include "app/event_pump.h"
#include "upload/progress_form.h"

#include <QObject>
#include <QProgressBar>

#include <chrono>
#include <functional>

class BlockHold {
public:
    BlockHold(TProgressForm& progress, int block, std::function<bool()> until)
    {
        QObject::connect(progress.FileProgressBar, &QProgressBar::valueChanged, &context_,
                         [this, block, until = std::move(until)](int value) {
                             if (value == block)
                                 held_ = hold(until);
                         });
    }

    // Whether the transfer reached the block and the condition then came true.
    bool held() const { return held_; }

private:
    static bool hold(const std::function<bool()>& until)
    {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!until()) {
            if (std::chrono::steady_clock::now() >= give_up)
                return false;
            poll_round();
        }
        return true;
    }

    QObject context_; // the connection ends with the hold
    bool held_ = false;
};
