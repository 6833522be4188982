// Status lights: lamps that show a serial port's lines and traffic.
//
// TApdStatusLight is a 13 x 13 lamp, red when lit and green when unlit.
//
// TApdSLController drives a set of lamps from one TApdComPort while
// monitoring is on:
//  - CTS, DSR and DCD show the modem lines. The device gives no event when a
//    line changes, so the controller reads the lines every tick (55 ms).
//  - RING lights when the ring line is seen and goes out 8 ticks later.
//  - RXD lights on every data-available notification of the port (before the
//    port's OnTriggerAvail runs); one tick later it goes out when no received
//    bytes wait, else it stays lit for another tick.
//  - TXD lights whenever bytes are queued for sending; one tick later it goes
//    out when the transmit queue is empty, else it stays lit for another tick.
//  - ERROR and BREAK are reset with the others but never lit: the device seam
//    reports neither line errors nor breaks.
// Switching monitoring on while the port is closed only remembers the wish:
// the lamps start when the port opens. When the port closes, monitoring stops
// (all lamps unlit) and resumes when it opens again.
#pragma once

#include <QObject>
#include <QTimer>
#include <QWidget>

class TApdComPort;

class TApdStatusLight : public QWidget {
    Q_OBJECT
public:
    explicit TApdStatusLight(QWidget* parent = nullptr);

    bool Lit() const { return lit_; }
    void SetLit(bool lit);

    QSize sizeHint() const override { return QSize(13, 13); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool lit_ = false;
};

// The lamps a controller drives; any slot may stay empty.
struct TLightSet {
    TApdStatusLight* CTSLight = nullptr;
    TApdStatusLight* DSRLight = nullptr;
    TApdStatusLight* DCDLight = nullptr;
    TApdStatusLight* RINGLight = nullptr;
    TApdStatusLight* TXDLight = nullptr;
    TApdStatusLight* RXDLight = nullptr;
    TApdStatusLight* ERRORLight = nullptr;
    TApdStatusLight* BREAKLight = nullptr;
};

class TApdSLController : public QObject {
    Q_OBJECT
public:
    // Off-times of the timed lamps, in ticks of 55 ms.
    static constexpr int kRxdTicks = 1;
    static constexpr int kTxdTicks = 1;
    static constexpr int kRingTicks = 8;

    explicit TApdSLController(QObject* parent = nullptr);

    TLightSet Lights;

    TApdComPort* ComPort() const { return port_; }
    // Switches monitoring off on the old port (remembering the wish) and applies it to the new one.
    void SetComPort(TApdComPort* port);

    // True while the lamps are being driven (the port is open and monitoring was asked for).
    bool Monitoring() const { return monitoring_; }
    // No effect when unchanged. Raises EPortNotAssigned without a port.
    void SetMonitoring(bool on);

private:
    void start();
    void stop();
    void all_unlit();
    void port_opened();
    void port_closed();
    void show_modem_lines();
    void data_arrived();
    void data_queued();
    void rxd_timer_fired();
    void txd_timer_fired();

    TApdComPort* port_ = nullptr;
    bool monitoring_ = false;
    bool wish_ = false;  // monitoring asked for; applied whenever the port is open
    QTimer modem_timer_;
    QTimer rxd_timer_;
    QTimer txd_timer_;
    QTimer ring_timer_;
    QMetaObject::Connection port_connections_[5];
};
