#pragma once
// Is a unit on its fixture? One presence probe of one device.
//
// probe() opens the device as kestrin does (exclusively, without waiting), sets the
// configuration's line, discards what waits in its input (a prompt the unit showed earlier is no
// answer now), sends one carriage return (what kestrin's own start-up sends, and nothing
// else) and watches what comes back: the unit is present when one of the configuration's two
// prompts comes within 500 ms. The port is closed before answered() is emitted, once per probe;
// a device that does not exist or will not open answers false at once (from the event loop).
// cancel() closes the port at once and no answer follows: the station calls it before it starts
// the unit's kestrin, so that the probe never holds the port then.
//
// Nothing blocks: the device is opened without waiting, its input arrives through a
// QSocketNotifier, the 500 ms are a timer. All on the thread that owns the object.

#include "serial/line_settings.h"
#include "serial/serial_device.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>
#include <string>
#include <string_view>

inline constexpr int kPresenceAnswerMs = 500;

// True when the bytes a unit sent back hold one of the two prompts.
bool shows_prompt(std::string_view reply, std::string_view prompts);

class PresenceProbe : public QObject {
    Q_OBJECT
public:
    PresenceProbe(LineSettings line, std::string prompts, QObject* parent = nullptr);
    ~PresenceProbe() override;

    void probe(const std::string& device);
    void cancel();
    bool busy() const { return busy_; }

signals:
    void answered(bool present);

private:
    void readReply();
    void end(bool present);

    LineSettings line_;
    std::string prompts_;
    PosixSerialDevice device_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer deadline_;
    bool busy_ = false;
    unsigned probes_ = 0; // tells a probe's answer from an earlier one's
};
