#pragma once
// The fixtures of a station that starts each unit as soon as it is on its fixture
// (start=when_present), and re-arms each fixture once its unit has been taken off.
//
// arm(rows) arms those fixtures; the line then probes each armed fixture whose port no kestrin of the
// station holds about once a second (presence_probe.h), and at once when its device appears: a
// QFileSystemWatcher on each device's folder (or the nearest folder above it that exists, while
// the device's own folder does not) tells of devices that come and go, without polling. What the
// probes say goes through the fixture's FixturePresence (fixture_presence.h): a unit that came is
// started through the station (which queues it while every slot is taken, or while it waits for
// its serial); one that left before its turn is taken out of the queue. Just before the station
// starts a unit's kestrin, the fixture's probe is cancelled, so that the port is closed then.
// disarm() stops the probes; runs in progress go on until the station stops them.
//
// presenceChanged(row, change) tells of each unit that came or left. All on the thread that owns
// the station (the user-interface thread).

#include "tools/station/fixture_presence.h"
#include "tools/station/presence_probe.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

class Station;

inline constexpr int kPresenceProbeIntervalMs = 1000;

class HandsFreeLine : public QObject {
    Q_OBJECT
public:
    explicit HandsFreeLine(Station& station);
    ~HandsFreeLine() override;

    void arm(const std::vector<int>& rows);
    void disarm();
    bool armed() const { return armed_; }
    Presence presence(int row) const { return fixtures_[static_cast<std::size_t>(row)].presence.state(); }

signals:
    void presenceChanged(int row, FixturePresence::Change change);

private:
    struct Fixture {
        FixturePresence presence;
        std::unique_ptr<PresenceProbe> probe;
    };

    void probeDue();
    void probe(int row);
    void follow(int row, FixturePresence::Change change);
    void devicesChanged();
    void watchDeviceFolders();
    void launching(int row);
    void runEnded(int row);

    Station& station_;
    std::vector<Fixture> fixtures_;
    QTimer interval_;
    QFileSystemWatcher folders_;
    bool armed_ = false;
};
