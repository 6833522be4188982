#include "tools/station/fixture_presence.h"

void FixturePresence::arm()
{
    armed_ = true;
    if (state_ == Presence::Disarmed)
        state_ = Presence::Empty;
}

// A run in progress stays Running until it ends.
void FixturePresence::disarm()
{
    armed_ = false;
    if (state_ != Presence::Running)
        state_ = Presence::Disarmed;
    misses_ = 0;
}

FixturePresence::Change FixturePresence::probed(bool answered)
{
    if (!wantsProbe())
        return Change::None;
    if (!answered)
        return miss();
    misses_ = 0;
    if (state_ != Presence::Empty)
        return Change::None;
    state_ = Presence::Present;
    return Change::Came;
}

FixturePresence::Change FixturePresence::miss()
{
    if (state_ == Presence::Empty || ++misses_ < kMissesUntilAbsent)
        return Change::None;
    misses_ = 0;
    state_ = Presence::Empty;
    return Change::Left;
}

FixturePresence::Change FixturePresence::deviceGone()
{
    if (state_ != Presence::Present && state_ != Presence::Done)
        return Change::None;
    misses_ = 0;
    state_ = Presence::Empty;
    return Change::Left;
}

void FixturePresence::runStarted()
{
    state_ = Presence::Running;
    misses_ = 0;
}

void FixturePresence::runEnded()
{
    if (state_ == Presence::Running)
        state_ = armed_ ? Presence::Done : Presence::Disarmed;
}
