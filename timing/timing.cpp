// Keystroke clock, timing slots, similarity score and verdict (see timing.h).
#include "timing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace typrova {

void clear(TimingSlots& slots)
{
    slots.intervals.fill(0.0);
    slots.pressed.fill(0.0);
}

void TimingState::start(std::int64_t ticksPerSecond, std::int64_t reading)
{
    frequency = ticksPerSecond;
    lastStamp = reading;
}

void TimingState::stamp(std::int64_t now)
{
    previousGap = gap;
    if (frequency > 0 && now >= lastStamp) {
        // Unsigned subtraction: the difference of two signed 64-bit readings may not fit int64.
        const std::uint64_t delta =
            static_cast<std::uint64_t>(now) - static_cast<std::uint64_t>(lastStamp);
        gap = static_cast<double>(delta) / static_cast<double>(frequency) * 1000.0;
    } else {
        gap = 0.0;
    }
    lastStamp = now;
}

bool TimingState::recordRelease(TimingSlots& slots, std::size_t length) const
{
    if (length == 0 || length > static_cast<std::size_t>(kMaxKeys))
        return false;
    slots.intervals[length] = previousGap;
    slots.pressed[length] = gap;
    return true;
}

namespace {

struct Accumulator {
    double num = 0.0; // weighted sum of squared mismatch ratios
    double den = 0.0; // sum of weights

    // One pair of measurements of the same key. The difference is truncated to whole
    // milliseconds before its absolute value is taken; a ratio above 1 is capped at 1 and
    // weighs as much as its size, so gross outliers count harder.
    void add(double a, double b)
    {
        const double d = std::fabs(std::trunc(a - b));
        const double m = (a + b) / 2.0;
        double r = d / m;
        double w = 1.0;
        if (r > 1.0) {
            w = r;
            r = 1.0;
        }
        num += r * r * w;
        den += w;
    }
};

} // namespace

double similarityScore(std::size_t n, const TimingSlots& entered, const TimingSlots& reentered)
{
    Accumulator acc;
    const std::size_t last = std::min(n, static_cast<std::size_t>(kMaxKeys));
    for (std::size_t i = 1; i <= last; ++i) {
        // The interval of key 1 has no preceding key in the entry and is never compared.
        if (i >= 2 && (entered.intervals[i] > 0.0 || reentered.intervals[i] > 0.0))
            acc.add(entered.intervals[i], reentered.intervals[i]);
        if (entered.pressed[i] > 0.0 || reentered.pressed[i] > 0.0)
            acc.add(entered.pressed[i], reentered.pressed[i]);
    }
    return 1.0 - std::sqrt(acc.num / acc.den);
}

std::string formatNumber(double value)
{
    char text[512]; // "%0.2f" of the largest double needs 312 characters
    const int length = std::snprintf(text, sizeof text, "%0.2f", value);
    return std::string(text, static_cast<std::size_t>(std::max(length, 0)));
}

double thresholdValue(int sliderPosition)
{
    return sliderPosition / 100.0;
}

std::string thresholdText(int sliderPosition)
{
    return formatNumber(thresholdValue(sliderPosition));
}

Evaluation evaluate(std::string_view enteredText, std::string_view reenteredText,
                    const TimingSlots& entered, const TimingSlots& reentered, int sliderPosition)
{
    if (enteredText.empty() || enteredText != reenteredText)
        return {"0.00", std::string(kVerdictEnterText)};

    const double threshold = thresholdValue(sliderPosition);
    const double percentage = similarityScore(enteredText.size(), entered, reentered) * 100.0;
    if (std::isnan(percentage))
        return {"0.00", std::string(kVerdictFailed)};
    return {formatNumber(percentage),
            std::string(percentage >= threshold ? kVerdictOk : kVerdictFailed)};
}

} // namespace typrova
