#pragma once
// The two ways a long operation lets time pass.
//
//   pump_events()   process the pending window events once: received data, timers, socket
//                   notifications, repaints and menu commands run inside it.
//   sleep_ms(n)     block the thread for n milliseconds without processing any event; what the
//                   unit sends meanwhile waits in the link's buffers.
//   poll_round()    one round of a wait loop: pump, then sleep 1 ms.
//
// The order of the two is part of the timing that the unit sees, so each operation states it.
// keep_sleeps_precise(), called once at start before any thread exists, keeps the sleeps of every
// thread close to their length: Linux lets a sleeping thread oversleep by its timer slack, 50 us
// by default, which would stretch each 1 ms pause by 5 %.

#include <QCoreApplication>

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
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

inline void poll_round()
{
    pump_events();
    sleep_ms(1);
}
