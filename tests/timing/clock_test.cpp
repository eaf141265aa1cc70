// Tests of the shared key clock and of how key releases file their gaps into the timing slots.
#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

using namespace typrova;
using typrova::test::table;

namespace {

// A key event: a press, or a release into Entered (field 0) or Re-entered (field 1) that
// leaves `length` characters in that field.
struct Event {
    double ms;
    int field; // -1: a press
    std::size_t length;
};

Event press(double ms) { return {ms, -1, 0}; }
Event release(double ms, std::size_t length, int field = 0) { return {ms, field, length}; }

// Both fields and the clock they share, as the window drives them, on a counter of the given
// frequency (10 MHz: whole and tenth milliseconds are whole ticks) started at 0 ms.
struct Rig {
    TimingState clock;
    TimingSlots tables[2]; // Entered, Re-entered

    explicit Rig(std::int64_t frequency = 10'000'000) { clock.start(frequency, 0); }

    // Every event stamps the clock; a release must report a stored row exactly when its
    // length is a key position 1..15.
    void play(const std::vector<Event>& events)
    {
        for (const Event& e : events) {
            clock.stamp(std::llround(e.ms * 10'000));
            if (e.field >= 0) {
                EXPECT_EQ(clock.recordRelease(tables[e.field], e.length),
                          e.length >= 1 && e.length <= kMaxKeys)
                    << "release at " << e.ms << " ms, length " << e.length;
            }
        }
    }
};

// Every slot, 0 included, against the expected table.
void expectTable(const TimingSlots& actual, const TimingSlots& expected, const char* field)
{
    for (std::size_t k = 0; k < static_cast<std::size_t>(kSlotCount); ++k) {
        EXPECT_DOUBLE_EQ(actual.intervals[k], expected.intervals[k]) << field << " interval " << k;
        EXPECT_DOUBLE_EQ(actual.pressed[k], expected.pressed[k]) << field << " pressed " << k;
    }
}

} // namespace

TEST(KeyClock, ReleasesFileTheLastTwoGapsUnderTheLengthAtRelease)
{
    struct Case {
        const char* what;
        std::vector<Event> events; // on a counter started at 0 ms
        TimingSlots entered, reentered;
    };
    const Case cases[] = {
        // The interval of key 1 counts from the start reading.
        {"one key at a time", {press(1000), release(1080, 1), press(1200), release(1290, 2)},
         table({80, 90}, {1000, 120}), {}},
        // a down, b down, a up, b up: both releases at length 2, the last one wins.
        {"overlapping keys", {press(1000), press(1030), release(1100, 2), release(1250, 2)},
         table({0, 150}, {0, 70}), {}},
        // Capital A: Shift down, a down, a up, Shift up; both releases at length 1.
        {"Shift and a", {press(2000), press(2040), release(2100, 1, 1), release(2130, 1, 1)},
         {}, table({30}, {60})},
        // Backspace shortens the text to 1: its release overwrites slot 1. Deleting the last
        // character stores nothing but moves the clock: the next pause counts from it.
        {"Backspace",
         {press(100), release(150, 1), press(300), release(360, 2), press(500), release(520, 1),
          press(700), release(725, 0), press(800), release(850, 1, 1)},
         table({20, 60}, {140, 150}), table({50}, {75})},
        // A held key repeats: every repeated press is an event; the release files at length 4.
        {"auto-repeat", {press(1000), press(1500), press(1533), press(1566), release(1600, 4)},
         table({0, 0, 0, 34}, {0, 0, 0, 33}), {}},
        // One clock for both fields: the pause counts from the other field's last event.
        {"both fields", {press(1000), release(1080, 1), press(1200), release(1290, 1, 1)},
         table({80}, {1000}), table({90}, {120})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        rig.play(c.events);
        expectTable(rig.tables[0], c.entered, "entered");
        expectTable(rig.tables[1], c.reentered, "reentered");
    }
}

TEST(KeyClock, PositionsPastFifteenAreNotStored)
{
    std::vector<Event> events;
    TimingSlots expected;
    double t = 0;
    for (std::size_t len = 1; len <= 17; ++len) {
        events.push_back(press(t += 100));
        events.push_back(release(t += 10.0 + len, len));
        if (len <= 15) {
            expected.intervals[len] = 100;
            expected.pressed[len] = 10.0 + len;
        }
    }
    events.push_back(press(t += 100));
    events.push_back(release(t += 7, 100));
    Rig rig;
    rig.play(events);
    expectTable(rig.tables[0], expected, "entered");
}

TEST(KeyClock, ClearingTouchesOneEntryAndNotTheClock)
{
    Rig rig;
    rig.play({press(1000), release(1080, 1), press(1200), release(1290, 1, 1)});
    const TimingSlots reenteredBefore = rig.tables[1];
    clear(rig.tables[0]);
    expectTable(rig.tables[0], {}, "entered");
    expectTable(rig.tables[1], reenteredBefore, "reentered");
    // The next event measures from the last event before the clearing.
    rig.play({press(1500), release(1520, 2, 1)});
    expectTable(rig.tables[1], table({90, 20}, {120, 210}), "reentered");
}

TEST(KeyClock, LongPausesAndFastCountersKeepTheirTrueLength)
{
    // 2^31 + 5 ticks at 10 MHz: beyond any 32-bit signed difference.
    TimingState clock;
    clock.start(10'000'000, 1000);
    clock.stamp(1000 + (std::int64_t{1} << 31) + 5);
    EXPECT_NEAR(clock.gap, 214748.3653, 1e-7);
    // More than 2^32 ticks does not wrap around.
    clock.stamp(clock.lastStamp + (std::int64_t{1} << 32) + 10'000);
    EXPECT_NEAR(clock.gap, 429496.7296 + 1.0, 1e-7);
    EXPECT_NEAR(clock.previousGap, 214748.3653, 1e-7);

    // A 3 GHz counter whose readings are far beyond 32 bits.
    TimingState fast;
    const std::int64_t base = std::int64_t{5'000'000'000'000};
    fast.start(3'000'000'000, base);
    fast.stamp(base + 240'000'000);
    EXPECT_DOUBLE_EQ(fast.gap, 80.0);
    fast.stamp(base + 240'000'000 + 3'000'000'000 * std::int64_t{3600});
    EXPECT_DOUBLE_EQ(fast.gap, 3'600'000.0);

    // Readings spanning the whole signed range still give a finite positive gap.
    TimingState extreme;
    extreme.start(1, std::numeric_limits<std::int64_t>::min());
    extreme.stamp(std::numeric_limits<std::int64_t>::max());
    EXPECT_TRUE(std::isfinite(extreme.gap));
    EXPECT_NEAR(extreme.gap, 18446744073709551615.0 * 1000.0, 1e7);
}

TEST(KeyClock, MissingOrBackwardCounterMeasuresNothing)
{
    Rig rig(0); // no high-resolution counter
    rig.play({press(100), release(180, 1), press(300), release(390, 1, 1)});
    expectTable(rig.tables[0], {}, "entered");
    expectTable(rig.tables[1], {}, "reentered");

    // A reading behind the last one gives 0.0; later gaps count from that reading.
    TimingState clock;
    clock.start(1000, 5000);
    clock.stamp(4000);
    EXPECT_EQ(clock.gap, 0.0);
    clock.stamp(4250);
    EXPECT_DOUBLE_EQ(clock.gap, 250.0);
    EXPECT_EQ(clock.previousGap, 0.0);
}
