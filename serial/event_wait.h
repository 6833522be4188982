#pragma once
// A wait on the user-interface thread that serves its events as they come and sleeps in between,
// without the wake-ups of short rounds.
//
//   pump_events_until(done, ms)   processes events until done() holds (checked first and after
//                                 each batch of events) or ms milliseconds have passed
//
// Whatever done() waits for must post an event (or come as one) when it happens, so that the
// wait wakes then; a timer of the wait's own ends it at its deadline.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

template <typename Done>
void pump_events_until(Done done, int ms)
{
    if (ms <= 0 || done())
        return;
    const QDeadlineTimer deadline(ms, Qt::PreciseTimer);
    QTimer wake; // the event that ends the last wait for more events
    wake.setTimerType(Qt::PreciseTimer);
    wake.setSingleShot(true);
    wake.start(ms);
    while (!deadline.hasExpired() && !done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}
