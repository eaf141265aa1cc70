// libFuzzer target: drives random key-event sequences (any counter frequency and reading, any
// gap, releases at any length, clears, random texts and slider positions) through the timing
// logic and traps on any broken invariant of the clock, the slots, the score or the verdict.
#include "timing.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <regex>
#include <string>

using namespace typrova;

namespace {

#define CHECK(condition)            \
    do {                            \
        if (!(condition))           \
            __builtin_trap();       \
    } while (0)

// "%0.2f" of a finite number: optional '-', one or more digits, '.', exactly two digits.
bool isNumberText(const std::string& s)
{
    static const std::regex kNumber("-?[0-9]+\\.[0-9]{2}");
    return std::regex_match(s, kNumber);
}

double parse(const std::string& s)
{
    CHECK(isNumberText(s));
    return std::strtod(s.c_str(), nullptr);
}

bool sameSlots(const TimingSlots& a, const TimingSlots& b)
{
    return a.intervals == b.intervals && a.pressed == b.pressed;
}

std::int64_t pickFrequency(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 0: return 0;                               // no counter
    case 1: return 1;
    case 2: return 10'000'000;
    case 3: return 3'000'000'000;                   // beyond 32 bits
    case 4: return std::int64_t{1} << 31;
    case 5: return std::numeric_limits<std::int64_t>::max();
    case 6: return in.ConsumeIntegralInRange<std::int64_t>(1, 100'000'000);
    default: return in.ConsumeIntegral<std::int64_t>(); // possibly negative
    }
}

// The next counter reading: mostly forward by a plausible or huge amount, sometimes backwards.
std::int64_t nextReading(FuzzedDataProvider& in, std::int64_t now)
{
    std::uint64_t step;
    switch (in.ConsumeIntegralInRange<int>(0, 4)) {
    case 0: step = in.ConsumeIntegralInRange<std::uint64_t>(0, 30'000'000); break;
    case 1: step = (std::uint64_t{1} << 31) + in.ConsumeIntegralInRange<std::uint64_t>(0, 1u << 20); break;
    case 2: step = in.ConsumeIntegral<std::uint64_t>(); break; // may wrap the signed range
    case 3: return in.ConsumeIntegral<std::int64_t>();        // any reading at all
    default: step = 0; break;
    }
    // Two's-complement wrap without signed overflow.
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(now) + step);
}

std::string otherText(FuzzedDataProvider& in, const std::string& text)
{
    switch (in.ConsumeIntegralInRange<int>(0, 4)) {
    case 0: case 1: return text;
    case 2: return text + static_cast<char>(in.ConsumeIntegral<char>());
    case 3: {
        std::string changed = text;
        if (!changed.empty())
            changed[in.ConsumeIntegralInRange<std::size_t>(0, changed.size() - 1)] ^=
                static_cast<char>(in.ConsumeIntegralInRange<int>(1, 255));
        return changed;
    }
    default: return in.ConsumeRandomLengthString(24);
    }
}

void checkEvaluation(const std::string& a, const std::string& b, const TimingSlots& e,
                     const TimingSlots& r, int slider)
{
    const Evaluation result = evaluate(a, b, e, r, slider);
    const bool comparable = !a.empty() && a == b;
    const double threshold = parse(thresholdText(slider));

    const double score = parse(result.score);
    CHECK(score >= 0.0 && score <= 100.0);
    if (!comparable) {
        CHECK(result.verdict == kVerdictEnterText && result.score == "0.00");
        return;
    }
    CHECK(result.verdict == kVerdictOk || result.verdict == kVerdictFailed);
    // The verdict is taken on the unrounded value, so the shown score can differ from the
    // threshold by at most the rounding of the text.
    if (result.verdict == kVerdictOk)
        CHECK(score >= threshold - 0.005);
    else
        CHECK(score <= threshold + 0.005);
    if (slider <= 0 && result.verdict == kVerdictFailed)
        CHECK(result.score == "0.00"); // only a score that is not a number fails at 0
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);

    TimingState clock;
    std::int64_t now = in.ConsumeIntegral<std::int64_t>();
    clock.start(pickFrequency(in), now);
    // Separate heap blocks, so a read past either table is caught by the address sanitizer.
    std::unique_ptr<TimingSlots> slots[2] = {std::make_unique<TimingSlots>(),
                                             std::make_unique<TimingSlots>()};
    std::string texts[2];

    while (in.remaining_bytes() > 0) {
        const int field = in.ConsumeBool() ? 1 : 0;
        switch (in.ConsumeIntegralInRange<int>(0, 5)) {
        case 0: { // a key press or release stamps the clock
            const std::int64_t before = clock.lastStamp;
            const double gapBefore = clock.gap;
            now = nextReading(in, now);
            clock.stamp(now);
            CHECK(clock.previousGap == gapBefore);
            CHECK(clock.lastStamp == now);
            // Every gap can be shown; with the checks of a release below, this keeps every
            // value in the tables finite and not negative, and slot 0 untouched.
            CHECK(std::isfinite(clock.gap) && clock.gap >= 0.0);
            CHECK(isNumberText(formatNumber(clock.gap)));
            if (clock.frequency <= 0 || now < before)
                CHECK(clock.gap == 0.0);
            if (clock.frequency > 0 && now > before && static_cast<std::uint64_t>(now) -
                    static_cast<std::uint64_t>(before) >= static_cast<std::uint64_t>(clock.frequency))
                CHECK(clock.gap >= 1000.0); // a whole second or more never shrinks
            break;
        }
        case 1: { // the release files the gaps at the field's current length
            std::size_t length = in.ConsumeIntegralInRange<std::size_t>(0, 20);
            if (in.ConsumeIntegralInRange<int>(0, 15) == 0)
                length = in.ConsumeIntegral<std::size_t>();
            TimingSlots expected = *slots[field];
            const TimingSlots other = *slots[1 - field];
            const bool stored = clock.recordRelease(*slots[field], length);
            CHECK(stored == (length >= 1 && length <= 15));
            CHECK(sameSlots(*slots[1 - field], other));
            if (stored) { // the two gaps at that position, nothing else
                expected.intervals[length] = clock.previousGap;
                expected.pressed[length] = clock.gap;
            }
            CHECK(sameSlots(*slots[field], expected));
            break;
        }
        case 2: { // a "Clear" button
            const TimingSlots other = *slots[1 - field];
            clear(*slots[field]);
            CHECK(sameSlots(*slots[field], TimingSlots{}));
            CHECK(sameSlots(*slots[1 - field], other));
            break;
        }
        case 3: // the fields' texts change
            texts[field] = in.ConsumeRandomLengthString(24);
            texts[1 - field] = otherText(in, texts[field]);
            break;
        case 4: // a refresh of the result box
            checkEvaluation(texts[0], texts[1], *slots[0], *slots[1],
                            in.ConsumeIntegralInRange<int>(0, 10000));
            break;
        default: // the window opens again with another counter
            now = in.ConsumeIntegral<std::int64_t>();
            clock.start(pickFrequency(in), now);
            break;
        }
    }
    checkEvaluation(texts[0], texts[1], *slots[0], *slots[1], 5000);
    checkEvaluation(texts[0], texts[0], *slots[0], *slots[1], 0);
    return 0;
}
