#pragma once
// The two ways a long operation lets time pass.
//
//   pump_events()   process the pending window events once: received data, timers, socket
//                   notifications, repaints and menu commands run inside it.
//   sleep_ms(n)     block the thread for n milliseconds without processing any event; what the
//                   unit sends meanwhile waits in the link's buffers. A stop signal that comes
//                   meanwhile is delivered at once (app/stop_signals.h), so a run that is told to
//                   stop does not first sleep out a pause of seconds.
//   poll_round()    one round of a wait loop: pump, then sleep 1 ms.
//   pump_events_until(done, ms)  process events as they come, asleep in between, until done()
//                   holds or ms milliseconds have passed (serial/event_wait.h): a wait for what
//                   an event announces, without the wake-ups of 1 ms rounds.
//   pump_events_for(ms)  the same for ms milliseconds: a wait whose end is known ahead.
//
// The order of the two is part of the timing that the unit sees, so each operation states it.
// keep_sleeps_precise(), called once at start before any thread exists, keeps the sleeps of every
// thread close to their length: Linux lets a sleeping thread oversleep by its timer slack, 50 us
// by default, which would stretch each 1 ms pause by 5 %.

#include "app/stop_signals.h"
#include "serial/event_wait.h"

#include <QCoreApplication>

#include <poll.h>

#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <chrono>
#include <thread>

inline void keep_sleeps_precise()
{
#ifdef __linux__
    prctl(PR_SET_TIMERSLACK, 1UL);
#endif
}

inline void pump_events()
{
    QCoreApplication::processEvents();
}

inline void sleep_ms(int ms)
{
    if (ms <= 0)
        return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const int stop = StopSignals::wakeFd();
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            return;
        if (stop < 0) {
            std::this_thread::sleep_until(deadline);
            return;
        }
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
        const timespec timeout{static_cast<time_t>(seconds.count()),
                               static_cast<long>(std::chrono::nanoseconds(left - seconds).count())};
        pollfd wake{stop, POLLIN, 0};
        if (ppoll(&wake, 1, &timeout, nullptr) > 0)
            StopSignals::deliverPending();
    }
}

inline void pump_events_for(int ms)
{
    pump_events_until([] { return false; }, ms);
}

inline void poll_round()
{
    pump_events();
    sleep_ms(1);
}
