#include "serial/status_light.h"

#include "serial/com_port.h"

#include <QPainter>

TApdStatusLight::TApdStatusLight(QWidget* parent) : QWidget(parent) { setFixedSize(13, 13); }

void TApdStatusLight::SetLit(bool lit)
{
    if (lit == lit_)
        return;
    lit_ = lit;
    update();
}

void TApdStatusLight::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::darkGray, 1));
    painter.setBrush(lit_ ? QColor(Qt::red) : QColor(Qt::green));
    painter.drawEllipse(QRectF(0.5, 0.5, width() - 1.0, height() - 1.0));
}

namespace {

void set_lamp(TApdStatusLight* lamp, bool lit)
{
    if (lamp)
        lamp->SetLit(lit);
}

}  // namespace

TApdSLController::TApdSLController(QObject* parent) : QObject(parent)
{
    for (QTimer* timer : {&rxd_timer_, &txd_timer_, &ring_timer_})
        timer->setSingleShot(true);
    modem_timer_.setInterval(TApdComPort::kTickMs);
    rxd_timer_.setInterval(kRxdTicks * TApdComPort::kTickMs);
    txd_timer_.setInterval(kTxdTicks * TApdComPort::kTickMs);
    ring_timer_.setInterval(kRingTicks * TApdComPort::kTickMs);
    connect(&modem_timer_, &QTimer::timeout, this, &TApdSLController::show_modem_lines);
    connect(&rxd_timer_, &QTimer::timeout, this, &TApdSLController::rxd_timer_fired);
    connect(&txd_timer_, &QTimer::timeout, this, &TApdSLController::txd_timer_fired);
    connect(&ring_timer_, &QTimer::timeout, this, [this] { set_lamp(Lights.RINGLight, false); });
}

void TApdSLController::SetComPort(TApdComPort* port)
{
    if (port == port_)
        return;
    stop();
    for (auto& connection : port_connections_)
        disconnect(connection);
    port_ = port;
    if (!port_)
        return;
    port_connections_[0] = connect(port_, &TApdComPort::opened, this, &TApdSLController::port_opened);
    port_connections_[1] = connect(port_, &TApdComPort::closed, this, &TApdSLController::port_closed);
    port_connections_[2] = connect(port_, &TApdComPort::dataAvailable, this, &TApdSLController::data_arrived);
    port_connections_[3] = connect(port_, &TApdComPort::dataQueued, this, &TApdSLController::data_queued);
    port_connections_[4] = connect(port_, &QObject::destroyed, this, [this] {
        stop();
        port_ = nullptr;
    });
    if (wish_ && port_->Open())
        start();
}

void TApdSLController::SetMonitoring(bool on)
{
    if (!port_)
        throw EPortNotAssigned();
    if (on == wish_)
        return;
    wish_ = on;
    if (!on)
        stop();
    else if (port_->Open())
        start();
}

void TApdSLController::start()
{
    monitoring_ = true;
    all_unlit();
    show_modem_lines();
    modem_timer_.start();
}

void TApdSLController::stop()
{
    monitoring_ = false;
    for (QTimer* timer : {&modem_timer_, &rxd_timer_, &txd_timer_, &ring_timer_})
        timer->stop();
    all_unlit();
}

void TApdSLController::all_unlit()
{
    for (TApdStatusLight* lamp : {Lights.CTSLight, Lights.DSRLight, Lights.DCDLight, Lights.RINGLight,
                                  Lights.TXDLight, Lights.RXDLight, Lights.ERRORLight, Lights.BREAKLight})
        set_lamp(lamp, false);
}

void TApdSLController::port_opened()
{
    if (wish_)
        start();
}

void TApdSLController::port_closed() { stop(); }

void TApdSLController::show_modem_lines()
{
    if (!monitoring_ || !port_)
        return;
    set_lamp(Lights.CTSLight, port_->GetCTS());
    set_lamp(Lights.DSRLight, port_->GetDSR());
    set_lamp(Lights.DCDLight, port_->GetDCD());
    if (Lights.RINGLight && port_->GetRI()) {
        Lights.RINGLight->SetLit(true);
        ring_timer_.start();
    }
}

void TApdSLController::data_arrived()
{
    if (!monitoring_)
        return;
    set_lamp(Lights.RXDLight, true);
    rxd_timer_.start();
}

void TApdSLController::data_queued()
{
    if (!monitoring_)
        return;
    set_lamp(Lights.TXDLight, true);
    txd_timer_.start();
}

void TApdSLController::rxd_timer_fired()
{
    if (port_ && port_->InBuffUsed() > 0)
        rxd_timer_.start();
    else
        set_lamp(Lights.RXDLight, false);
}

void TApdSLController::txd_timer_fired()
{
    if (port_ && port_->GetOutBuffUsed() > 0)
        txd_timer_.start();
    else
        set_lamp(Lights.TXDLight, false);
}
