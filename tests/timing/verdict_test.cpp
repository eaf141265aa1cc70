// Tests of the result box texts and the threshold label.
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

using namespace typrova;
using typrova::test::table;

namespace {

const TimingSlots kRhythm = table({100, 120, 90}, {0, 200, 150});
const TimingSlots kOtherRhythm = table({100, 300, 0}, {0, 50, 150});

} // namespace

TEST(Verdict, TextsThatCannotBeComparedAskForText)
{
    const std::pair<const char*, const char*> pairs[] = {
        {"", ""},       {"", "abc"},   {"abc", ""},  {"abc", "abd"},
        {"abc", "abcd"}, {"abcd", "abc"}, {"abc", "aBc"},
    };
    for (const auto& [entered, reentered] : pairs) {
        SCOPED_TRACE(testing::Message() << '"' << entered << "\" vs \"" << reentered << '"');
        for (int slider : {0, 5000, 10000}) {
            const Evaluation result = evaluate(entered, reentered, kRhythm, kRhythm, slider);
            EXPECT_EQ(result.score, "0.00");
            EXPECT_EQ(result.verdict, "Enter text");
        }
    }
    // Texts are compared byte for byte, including bytes past an embedded NUL.
    const std::string a("ab\0c", 4), b("ab\0d", 4);
    EXPECT_EQ(evaluate(a, b, kRhythm, kRhythm, 0).verdict, "Enter text");
}

TEST(Verdict, ScoreIsComparedUnroundedWithTheThreshold)
{
    // One pressed pair 1000 ms apart around a mean of 1999.875 ms: 49.9968...%, shown as 50.00.
    const TimingSlots e = table({2499.875}), r = table({1499.875});
    const double percentage = similarityScore(1, e, r) * 100.0;
    ASSERT_GT(percentage, 49.995);
    ASSERT_LT(percentage, 50.0);
    const Evaluation justBelow = evaluate("x", "x", e, r, 5000);
    EXPECT_EQ(justBelow.score, "50.00");
    EXPECT_EQ(justBelow.verdict, "FAILED");
    EXPECT_EQ(evaluate("x", "x", e, r, 4999).verdict, "OK");

    // A score of exactly 0 fails one step above 0 (it passes at 0: WorkedFigures).
    EXPECT_EQ(evaluate("a", "a", table({10}), table({50}), 1).verdict, "FAILED");

    // Mixed terms: an interval 200 vs 50 (ratio 1.2, capped, weight 1.2), pressed 120 vs 300,
    // pressed 90 vs nothing (weight 2) and two perfect terms: num 3.9347, den 6.2 -> 20.336...%.
    const Evaluation mid = evaluate("abc", "abc", kRhythm, kOtherRhythm, 5000);
    EXPECT_EQ(mid.score, "20.34");
    EXPECT_EQ(mid.verdict, "FAILED");
    EXPECT_EQ(evaluate("abc", "abc", kRhythm, kOtherRhythm, 2033).verdict, "OK");
    EXPECT_EQ(evaluate("abc", "abc", kRhythm, kOtherRhythm, 2034).verdict, "FAILED");
}

TEST(Verdict, NumbersAreWrittenWithTwoDecimals)
{
    EXPECT_EQ(thresholdText(5000), "50.00");
    EXPECT_EQ(thresholdText(0), "0.00");
    EXPECT_EQ(thresholdText(10000), "100.00");
    EXPECT_EQ(thresholdText(1), "0.01");
    EXPECT_EQ(thresholdText(9999), "99.99");
    EXPECT_EQ(formatNumber(214748.3653), "214748.37");
    EXPECT_EQ(formatNumber(0.005), "0.01"); // 0.005 is stored just above the half
    EXPECT_EQ(formatNumber(-7.6), "-7.60");
}
