// The presence rule as a pure state machine: a unit starts once when it comes, stays on through
// probes it does not answer now and then, and leaves after three unanswered probes in a row or
// with its device.

#include "tools/station/fixture_presence.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Change = FixturePresence::Change;

// Each step: a = answered probe, m = missed probe, g = device gone, s = run started, e = run ended,
// A = armed, D = disarmed. The changes, as "+" (came) and "-" (left), with the last state.
std::string play(const std::string& steps, FixturePresence& presence)
{
    std::string changes;
    for (char step : steps) {
        Change change = Change::None;
        switch (step) {
        case 'a': change = presence.probed(true); break;
        case 'm': change = presence.probed(false); break;
        case 'g': change = presence.deviceGone(); break;
        case 's': presence.runStarted(); break;
        case 'e': presence.runEnded(); break;
        case 'A': presence.arm(); break;
        case 'D': presence.disarm(); break;
        }
        changes += change == Change::Came ? "+" : change == Change::Left ? "-" : "";
    }
    return changes;
}

const char* name_of(Presence state)
{
    static const char* const names[] = {"Disarmed", "Empty", "Present", "Running", "Done"};
    return names[static_cast<int>(state)];
}

} // namespace

TEST(FixturePresence, ComesOnceLeavesAfterThreeMissesOrWithItsDevice)
{
    struct Case {
        const char* steps;
        const char* changes;
        Presence last;
        const char* what;
    };
    const std::vector<Case> cases = {
        {"a", "", Presence::Disarmed, "a fixture that is not armed starts nothing"},
        {"Amma", "+", Presence::Present, "an empty fixture waits for an answer"},
        {"Aasea", "+", Presence::Done, "a unit that stays on is not started again"},
        {"Aasemamamamama", "+", Presence::Done, "nor one that answers one probe in two"},
        {"Aasemma", "+", Presence::Done, "two misses in a row are not an absence"},
        {"Aasemmm", "+-", Presence::Empty, "three are"},
        {"Aasemmma", "+-+", Presence::Present, "and the next unit comes"},
        {"Aaseg", "+-", Presence::Empty, "a device that goes takes its unit with it"},
        {"Aammm", "+-", Presence::Empty, "a unit taken off before its turn leaves"},
        {"Aasa", "+", Presence::Running, "nothing probes a running unit"},
        {"AasDe", "+", Presence::Disarmed, "a run that ends on a disarmed fixture leaves it so"},
        {"AaD", "+", Presence::Disarmed, "disarming forgets the unit"},
        {"AgA", "", Presence::Empty, "a gone device on an empty fixture changes nothing"},
    };
    for (const Case& c : cases) {
        FixturePresence presence;
        EXPECT_EQ(play(c.steps, presence), c.changes) << c.what;
        EXPECT_STREQ(name_of(presence.state()), name_of(c.last)) << c.what;
    }
}
