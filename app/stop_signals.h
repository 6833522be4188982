#pragma once
// The signals that ask a program to stop (SIGINT, SIGTERM, SIGHUP), delivered on the event loop.
//
// How it works. StopSignals installs a handler for each of the three that only writes the
// signal's number into a pipe (a self-pipe): nothing else is safe inside a signal handler. A
// QSocketNotifier on the pipe's read end wakes the thread that owns the object, which reads the
// numbers and emits stopRequested() once per signal, in the order they came. SIGPIPE is ignored
// while the object lives, so that a write to a pipe whose reader has gone fails with EPIPE instead
// of ending the process: the program decides what a lost reader means.
//
// A thread that sleeps without processing events (a pause on the wire) need not oversleep a stop:
// it waits on wakeFd() instead and, when the pipe becomes readable, calls deliverPending(), which
// emits stopRequested() there and then.
//
// One object at a time per process; the destructor restores the handlers that were there before.
// Everything but the handler runs on the thread that made the object (the user-interface thread).

#include <QObject>
#include <QString>

class QSocketNotifier;

class StopSignals : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

    // "SIGINT", "SIGTERM", "SIGHUP"; "signal N" for any other number.
    static QString nameOf(int signal);

    // The pipe's read end while an object lives; -1 otherwise.
    static int wakeFd();
    // Emits stopRequested() for each signal that came and was not yet delivered.
    static void deliverPending();

signals:
    void stopRequested(int signal);

private:
    void readPipe();

    QSocketNotifier* notifier_ = nullptr;
};
