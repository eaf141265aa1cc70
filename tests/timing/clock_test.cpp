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

// Both fields and the clock they share, as the window drives them, on a 10 MHz counter (whole
// and tenth milliseconds are whole ticks) started at 0 ms.
struct Rig {
    TimingState clock;
    TimingSlots tables[2]; // Entered, Re-entered

    Rig() { clock.start(10'000'000, 0); }

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

// The tables lie side by side: a clearing that writes past its own table reaches the other.
TEST(KeyClock, ClearingTouchesOneEntryOnly)
{
    Rig rig;
    rig.play({press(1000), release(1080, 1), press(1200), release(1290, 1, 1)});
    clear(rig.tables[0]);
    expectTable(rig.tables[0], {}, "entered");
    expectTable(rig.tables[1], table({90}, {120}), "reentered");
}

// The gaps of a clock started at `start` after each of `readings`, and the previous gap each
// time: the last gap, 0.0 for the first.
TEST(KeyClock, GapsKeepTheirTrueLengthAndNeverGoNegative)
{
    struct Case {
        const char* what;
        std::int64_t frequency, start;
        std::vector<std::int64_t> readings;
        std::vector<double> gaps;
    };
    constexpr std::int64_t k2To31 = std::int64_t{1} << 31, k2To32 = std::int64_t{1} << 32;
    constexpr std::int64_t kFar = 5'000'000'000'000, k3GHz = 3'000'000'000;
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    const Case cases[] = {
        // 2^31 + 5 ticks at 10 MHz: beyond any 32-bit signed difference; then 2^32 ticks and
        // 1 ms more, which do not wrap around.
        {"long pauses", 10'000'000, 1000, {1000 + k2To31 + 5, 1000 + k2To31 + 5 + k2To32 + 10'000},
         {214748.3653, 429496.7296 + 1.0}},
        {"a 3 GHz counter far beyond 32 bits", k3GHz, kFar,
         {kFar + 240'000'000, kFar + 240'000'000 + k3GHz * 3600}, {80.0, 3'600'000.0}},
        {"readings spanning the whole signed range", 1, kMin, {kMax},
         {18446744073709551615.0 * 1000.0}},
        {"no high-resolution counter", 0, 0, {1000, 1800}, {0.0, 0.0}},
        // A reading behind the last one gives 0.0; later gaps count from that reading.
        {"a counter that steps back", 1000, 5000, {4000, 4250}, {0.0, 250.0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TimingState clock;
        clock.start(c.frequency, c.start);
        double previous = 0.0;
        for (std::size_t i = 0; i < c.readings.size(); ++i) {
            clock.stamp(c.readings[i]);
            EXPECT_DOUBLE_EQ(clock.gap, c.gaps[i]) << "reading " << i;
            EXPECT_DOUBLE_EQ(clock.previousGap, previous) << "reading " << i;
            previous = c.gaps[i];
        }
    }
}
