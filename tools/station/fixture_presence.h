#pragma once
// Whether a fixture has a unit on it, from its presence probes: the rule that starts a unit when
// it is put on, and re-arms the fixture only once it has been taken off.
//
//   Disarmed --arm()--> Empty --answered--> Present --runStarted()--> Running --runEnded()--> Done
//                         ^                    |                                               |
//                         +---- absent --------+-----------------------------------------------+
//
// Empty: armed, waiting for a unit; a probe that is answered means a unit was put on (Came): the
// station starts it, or queues it while every slot is taken. Present and Done: a unit is on the
// fixture, before and after its run; it is absent, and the fixture Empty again (Left), once its
// device is gone or three probes in a row went unanswered. So a unit that stays on its fixture is
// never started twice, and neither is one that answers only some probes. Running: its kestrin
// holds the port, so nothing probes it. A run may also start and end on a disarmed fixture (the
// operator starts it by hand); it ends Disarmed then.
//
// A pure state machine: the probes' outcomes in, the changes out; no clock, no device.

enum class Presence { Disarmed, Empty, Present, Running, Done };

class FixturePresence {
public:
    static constexpr int kMissesUntilAbsent = 3;

    enum class Change { None, Came, Left };

    void arm();
    void disarm();
    Change probed(bool answered);
    Change deviceGone();
    void runStarted();
    void runEnded();

    Presence state() const { return state_; }
    // Probes are wanted: armed, and no kestrin holds the port.
    bool wantsProbe() const
    {
        return armed_ && (state_ == Presence::Empty || state_ == Presence::Present || state_ == Presence::Done);
    }

private:
    Change miss();

    Presence state_ = Presence::Disarmed;
    bool armed_ = false;
    int misses_ = 0;
};
