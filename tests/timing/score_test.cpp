// Tests of the rhythm similarity score: worked figures, the pair term's rounding and weighting
// rules, which positions take part, and properties over many random tables.
#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <random>

using namespace typrova;
using typrova::test::table;

namespace {

struct WorkedFigure {
    const char* what;
    std::size_t n;
    TimingSlots entered;
    TimingSlots reentered;
    double score; // NaN: nothing to compare
    const char* shown;
};

const double kNaN = std::nan("");
// A perfect term (weight 1) next to a one-sided one of weight w: score = 1 - sqrt(w / (1 + w)).
double besidePerfectTerm(double w) { return 1.0 - std::sqrt(w / (1.0 + w)); }
// Pressed times at key 2 differ, an equal interval at key 4; positions 3 unmeasured.
const TimingSlots kUnmeasured3 = table({100, 100, 0, 0}, {0, 200, 0, 30});
const TimingSlots kUnmeasured3Other = table({100, 300, 0, 0}, {0, 200, 0, 30});

} // namespace

TEST(SimilarityScore, WorkedFigures)
{
    const WorkedFigure figures[] = {
        {"one pressed time tripled", 2, table({100, 100}, {0, 200}), table({100, 300}, {0, 200}),
         1.0 - std::sqrt(1.0 / 3.0), "42.26"},
        {"one pressed time missing", 2, table({100, 100}, {0, 200}), table({100, 0}, {0, 200}),
         1.0 - std::sqrt(0.5), "29.29"},
        {"single capped term", 1, table({10}), table({50}), 0.0, "0.00"},
        {"capped term among equal ones", 2, table({10, 80}, {0, 100}), table({50, 80}, {0, 100}),
         1.0 - std::sqrt(0.4), "36.75"},
        {"ratio just under the cap", 2, table({100, 100}), table({100, 280}),
         1.0 - std::sqrt(180.0 / 190.0 * 180.0 / 190.0 / 2.0), "33.01"},
        {"interval off by 50", 2, table({100, 100}, {0, 100}), table({100, 100}, {0, 150}),
         1.0 - std::sqrt(0.16 / 3.0), "76.91"},
        // Differences are truncated to whole ms before the absolute value: sub-millisecond
        // ones vanish, also against a missing measurement, and -7.6 ms counts as 7, not 8
        // (the swapped entries are PropertiesOverRandomTables' symmetry check).
        {"0.9 ms apart", 1, table({100.9}), table({100.0}), 1.0, "100.00"},
        {"0.6 ms against nothing", 1, table({0.6}), table({0.0}), 1.0, "100.00"},
        {"7.6 ms shorter", 1, table({100}), table({107.6}), 1.0 - 7.0 / 103.8, "93.26"},
        // A one-sided measurement weighs twice its truncated share.
        {"one-sided 85.3", 2, table({100, 85.3}), table({100, 0}),
         besidePerfectTerm(2.0 * 85.0 / 85.3), "18.40"},
        {"one-sided 1.5", 2, table({100, 1.5}), table({100, 0}),
         besidePerfectTerm(2.0 * 1.0 / 1.5), "24.41"},
        // The interval of key 1 never takes part, however far apart.
        {"interval of key 1, n 1", 1, table({100}, {5}), table({100}, {5000}), 1.0, "100.00"},
        {"interval of key 1, n 2", 2, table({100, 50}, {5, 0}), table({100, 50}, {5000, 0}), 1.0,
         "100.00"},
        {"only the interval of key 1", 1, table({0}, {70}), table({0}, {90}), kNaN, "0.00"},
        {"nothing measured", 15, TimingSlots{}, TimingSlots{}, kNaN, "0.00"},
        // Unmeasured positions (both entries 0.0) add nothing, in either term; positions past
        // n are not read.
        {"unmeasured, n 3", 3, kUnmeasured3, kUnmeasured3Other, 1.0 - std::sqrt(1.0 / 3.0),
         "42.26"},
        {"unmeasured, n 4", 4, kUnmeasured3, kUnmeasured3Other, 0.5, "50.00"},
        {"unmeasured, n 1", 1, kUnmeasured3, kUnmeasured3Other, 1.0, "100.00"},
    };
    for (const WorkedFigure& f : figures) {
        SCOPED_TRACE(f.what);
        const double score = similarityScore(f.n, f.entered, f.reentered);
        const std::string text(f.n, 'x');
        const Evaluation atZero = evaluate(text, text, f.entered, f.reentered, 0);
        EXPECT_EQ(atZero.score, f.shown);
        if (std::isnan(f.score)) {
            EXPECT_TRUE(std::isnan(score));
            EXPECT_EQ(atZero.verdict, kVerdictFailed); // only a score that is not a number
        } else {
            // 1e-12: a wrong weight, cap or truncation moves these scores by more than 1e-4.
            EXPECT_NEAR(score, f.score, 1e-12);
            EXPECT_EQ(atZero.verdict, kVerdictOk);
        }
        // Only an exact 1.0 reaches the top threshold, 100.00.
        EXPECT_EQ(evaluate(text, text, f.entered, f.reentered, 10000).verdict,
                  f.score == 1.0 ? kVerdictOk : kVerdictFailed);
    }
}

TEST(SimilarityScore, NeverReadsSlotZeroOrPastFifteen)
{
    // Heap copies so a read past the arrays lands outside the allocation under a sanitizer.
    auto e = std::make_unique<TimingSlots>(table({100, 100}, {0, 200}));
    auto r = std::make_unique<TimingSlots>(table({100, 300}, {0, 200}));
    e->intervals[0] = 10;
    e->pressed[0] = 10;
    r->intervals[0] = 5000;
    r->pressed[0] = 5000;
    const double expected = 1.0 - std::sqrt(1.0 / 3.0);
    for (std::size_t n : {15u, 16u, 40u, 1000u}) {
        SCOPED_TRACE(n);
        EXPECT_NEAR(similarityScore(n, *e, *r), expected, 1e-12);
    }
    // Entries of more than 15 characters are scored on the first 15 positions.
    const Evaluation long_ = evaluate("abcdefghijklmnopq", "abcdefghijklmnopq", *e, *r, 5000);
    EXPECT_EQ(long_.score, "42.26");
}

namespace {

// Portable draws from the raw engine output (distributions differ between standard libraries).
struct Draw {
    std::mt19937_64 engine{20240611};
    std::uint64_t below(std::uint64_t n) { return engine() % n; }
    double unit() { return static_cast<double>(engine() >> 11) * 0x1.0p-53; }

    double time(double other)
    {
        switch (below(8)) {
        case 0: case 1: case 2: return 0.0;
        case 3: return unit();                                   // under a millisecond
        case 4: return static_cast<double>(1 + below(1000));     // whole milliseconds
        case 5: return unit() * 2000.0;
        case 6: return unit() * 1e12;                            // long pauses
        default: return other + unit() * 1.5;                    // nearly the other entry's
        }
    }
};

bool anyMeasured(std::size_t n, const TimingSlots& a, const TimingSlots& b)
{
    for (std::size_t i = 1; i <= n && i <= 15; ++i) {
        if (i >= 2 && (a.intervals[i] > 0.0 || b.intervals[i] > 0.0))
            return true;
        if (a.pressed[i] > 0.0 || b.pressed[i] > 0.0)
            return true;
    }
    return false;
}

} // namespace

TEST(SimilarityScore, PropertiesOverRandomTables)
{
    Draw draw;
    int numeric = 0;
    for (int c = 0; c < 4000; ++c) {
        TimingSlots e, r;
        for (std::size_t i = 0; i < static_cast<std::size_t>(kSlotCount); ++i) {
            e.intervals[i] = draw.time(0.0);
            r.intervals[i] = draw.time(e.intervals[i]);
            e.pressed[i] = draw.time(0.0);
            r.pressed[i] = draw.time(e.pressed[i]);
        }
        const std::size_t n = 1 + draw.below(20);
        SCOPED_TRACE(testing::Message() << "case " << c << ", n " << n);

        const double self = similarityScore(n, e, e);
        if (anyMeasured(n, e, e))
            ASSERT_EQ(self, 1.0);
        else
            ASSERT_TRUE(std::isnan(self));

        const double s = similarityScore(n, e, r);
        const double swapped = similarityScore(n, r, e);
        if (!anyMeasured(n, e, r)) {
            ASSERT_TRUE(std::isnan(s));
            ASSERT_TRUE(std::isnan(swapped));
            ASSERT_EQ(evaluate(std::string(n, 'x'), std::string(n, 'x'), e, r, 0).verdict,
                      "FAILED");
            continue;
        }
        ++numeric;
        ASSERT_GE(s, 0.0);
        ASSERT_LE(s, 1.0);
        ASSERT_EQ(s, swapped);
        // Slider at 0: every numeric score passes.
        ASSERT_EQ(evaluate(std::string(n, 'x'), std::string(n, 'x'), e, r, 0).verdict, "OK");
    }
    EXPECT_GT(numeric, 3000); // the draw must mostly produce comparable tables
}
