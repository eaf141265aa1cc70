// Tests of the shared key clock and of how key releases file their gaps into the timing slots.
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

using namespace typrova;
using typrova::test::KeyRig;

namespace {

void expectSlot(const TimingSlots& s, std::size_t k, double interval, double pressed)
{
    EXPECT_DOUBLE_EQ(s.intervals[k], interval) << "interval of key " << k;
    EXPECT_DOUBLE_EQ(s.pressed[k], pressed) << "pressed time of key " << k;
}

bool allZero(const TimingSlots& s)
{
    for (std::size_t i = 0; i < static_cast<std::size_t>(kSlotCount); ++i)
        if (s.intervals[i] != 0.0 || s.pressed[i] != 0.0)
            return false;
    return true;
}

} // namespace

TEST(KeyClock, OneKeyAtATimeFilesHoldAndPauseUnderEachPosition)
{
    KeyRig rig; // counter started at 0 ms
    rig.press(1000);
    ASSERT_TRUE(rig.release(1080, rig.entered, 1));
    expectSlot(rig.entered, 1, 1000, 80); // interval of key 1 counts from the start reading
    rig.press(1200);
    ASSERT_TRUE(rig.release(1290, rig.entered, 2));
    expectSlot(rig.entered, 2, 120, 90);
    expectSlot(rig.entered, 1, 1000, 80);
    EXPECT_TRUE(allZero(rig.reentered));
}

TEST(KeyClock, OverlappingKeysAndModifiersOverwriteTheSlotOfTheLengthAtRelease)
{
    // a then b overlapping: both releases happen at length 2, the last one wins.
    KeyRig rig;
    rig.entered.pressed[1] = 55.0;
    rig.entered.intervals[1] = 66.0;
    rig.press(1000);                               // a down
    rig.press(1030);                               // b down
    ASSERT_TRUE(rig.release(1100, rig.entered, 2)); // a up
    expectSlot(rig.entered, 2, 30, 70);
    ASSERT_TRUE(rig.release(1250, rig.entered, 2)); // b up
    expectSlot(rig.entered, 2, 70, 150);
    expectSlot(rig.entered, 1, 66, 55);

    // Capital A: Shift down, a down, a up, Shift up; both releases at length 1.
    KeyRig shift;
    shift.press(2000);
    shift.press(2040);
    ASSERT_TRUE(shift.release(2100, shift.reentered, 1));
    expectSlot(shift.reentered, 1, 40, 60);
    ASSERT_TRUE(shift.release(2130, shift.reentered, 1));
    expectSlot(shift.reentered, 1, 60, 30);
}

TEST(KeyClock, BackspaceAndAutoRepeatUseTheFinalLength)
{
    KeyRig rig;
    rig.press(100);
    ASSERT_TRUE(rig.release(150, rig.entered, 1));
    rig.press(300);
    ASSERT_TRUE(rig.release(360, rig.entered, 2));
    // Backspace shortens the text to 1: its release overwrites slot 1.
    rig.press(500);
    ASSERT_TRUE(rig.release(520, rig.entered, 1));
    expectSlot(rig.entered, 1, 140, 20);
    expectSlot(rig.entered, 2, 150, 60);
    // Deleting the last character: the release at length 0 stores nothing, but moves the clock.
    const TimingSlots before = rig.entered;
    rig.press(700);
    EXPECT_FALSE(rig.release(725, rig.entered, 0));
    EXPECT_EQ(rig.entered.intervals, before.intervals);
    EXPECT_EQ(rig.entered.pressed, before.pressed);
    EXPECT_DOUBLE_EQ(rig.clock.gap, 25.0);

    // A held key repeats: every repeated press is an event; the release files at length 4.
    KeyRig rep;
    rep.press(1000);
    rep.press(1500);
    rep.press(1533);
    rep.press(1566);
    ASSERT_TRUE(rep.release(1600, rep.entered, 4));
    expectSlot(rep.entered, 4, 33, 34);
    for (std::size_t k = 1; k <= 3; ++k)
        expectSlot(rep.entered, k, 0, 0);
}

TEST(KeyClock, PositionsPastFifteenAreNotStored)
{
    KeyRig rig;
    double t = 0;
    for (std::size_t len = 1; len <= 15; ++len) {
        rig.press(t += 100);
        ASSERT_TRUE(rig.release(t += 10.0 + len, rig.entered, len));
    }
    const TimingSlots full = rig.entered;
    expectSlot(full, 15, 100, 25);
    for (std::size_t len : {16u, 17u, 100u}) {
        rig.press(t += 100);
        EXPECT_FALSE(rig.release(t += 7, rig.entered, len));
    }
    EXPECT_EQ(rig.entered.intervals, full.intervals);
    EXPECT_EQ(rig.entered.pressed, full.pressed);
    EXPECT_EQ(rig.entered.intervals[0], 0.0);
    EXPECT_EQ(rig.entered.pressed[0], 0.0);
}

TEST(KeyClock, ClockIsSharedAndClearingTouchesOnlyOneEntry)
{
    KeyRig rig;
    rig.press(1000);
    ASSERT_TRUE(rig.release(1080, rig.entered, 1));
    rig.press(1200);
    ASSERT_TRUE(rig.release(1290, rig.reentered, 1));
    expectSlot(rig.reentered, 1, 120, 90); // pause counted from the other field's last event

    const TimingState clockBefore = rig.clock;
    const TimingSlots reenteredBefore = rig.reentered;
    clear(rig.entered);
    EXPECT_TRUE(allZero(rig.entered));
    EXPECT_EQ(rig.reentered.intervals, reenteredBefore.intervals);
    EXPECT_EQ(rig.reentered.pressed, reenteredBefore.pressed);
    EXPECT_EQ(rig.clock.lastStamp, clockBefore.lastStamp);
    EXPECT_EQ(rig.clock.gap, clockBefore.gap);
    EXPECT_EQ(rig.clock.previousGap, clockBefore.previousGap);

    // The next event measures from the last event before the clearing.
    rig.press(1500);
    EXPECT_DOUBLE_EQ(rig.clock.gap, 210.0);
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
    KeyRig rig;
    rig.clock.start(0, 0); // no high-resolution counter
    rig.press(100);
    ASSERT_TRUE(rig.release(180, rig.entered, 1));
    rig.press(300);
    ASSERT_TRUE(rig.release(390, rig.reentered, 1));
    EXPECT_TRUE(allZero(rig.entered));
    EXPECT_TRUE(allZero(rig.reentered));
    const Evaluation result = evaluate("a", "a", rig.entered, rig.reentered, 5000);
    EXPECT_EQ(result.score, "0.00");
    EXPECT_EQ(result.verdict, "FAILED");

    // A reading behind the last one gives 0.0; later gaps count from that reading.
    TimingState clock;
    clock.start(1000, 5000);
    clock.stamp(4000);
    EXPECT_EQ(clock.gap, 0.0);
    clock.stamp(4250);
    EXPECT_DOUBLE_EQ(clock.gap, 250.0);
    EXPECT_EQ(clock.previousGap, 0.0);
}
