// Keystroke timing logic: the shared key clock, the per-entry timing slots, the rhythm
// similarity score and the verdict texts. Pure C++; no platform headers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace typrova {

constexpr int kMaxKeys = 15;   // key positions 1..15 are measured
constexpr int kSlotCount = 16; // slot 0 is never used

// A monotonic tick counter with a known frequency. The Windows build reads the
// high-resolution performance counter; tests drive a fake one.
class TickSource {
public:
    virtual ~TickSource() = default;
    virtual std::int64_t frequency() const = 0; // ticks per second; 0 if there is no counter
    virtual std::int64_t now() const = 0;
};

// One entry's timings in milliseconds, indexed by key position. 0.0 means "not measured".
struct TimingSlots {
    std::array<double, kSlotCount> intervals{}; // pause before the key
    std::array<double, kSlotCount> pressed{};   // how long the key was held
};

// Zeroes all 32 values of one entry.
void clear(TimingSlots& slots);

// The clock shared by both password fields. Every key press and release stamps it; a release
// then files the two most recent gaps under the key's position.
struct TimingState {
    std::int64_t frequency = 0; // ticks per second
    std::int64_t lastStamp = 0; // counter reading at the most recent key event
    double gap = 0.0;           // ms between the two most recent key events
    double previousGap = 0.0;   // the gap before that one

    // Takes the counter's frequency and a first reading, before any key event arrives.
    void start(std::int64_t ticksPerSecond, std::int64_t reading);

    // Called once for every key press and release, with the counter reading of that event.
    // Gaps come from the full 64-bit difference, so a long pause keeps its true length. A
    // counter without a frequency, or one that steps backwards, yields a gap of 0.0 (nothing
    // measured) rather than an infinity, a NaN or a negative time.
    void stamp(std::int64_t now);

    // Called right after the stamp of a key release with the field's text length (in bytes).
    // Lengths 1..15 store previous gap and gap as the interval and pressed time of that
    // position and return true; any other length stores nothing and returns false.
    bool recordRelease(TimingSlots& slots, std::size_t length) const;
};

// Condenses two entries' timings over key positions 1..n into a similarity in [0, 1]
// (1 = same rhythm). NaN when no position holds a measurement in either entry.
// Positions past kMaxKeys are never read.
double similarityScore(std::size_t n, const TimingSlots& entered, const TimingSlots& reentered);

// Every number in the window is written this way ("%0.2f").
std::string formatNumber(double value);

// Slider positions run 0..10000; the threshold is position / 100.
double thresholdValue(int sliderPosition);
std::string thresholdText(int sliderPosition);

struct Evaluation {
    std::string score;   // "%0.2f" of the similarity percentage, or "0.00"
    std::string verdict; // "OK", "FAILED" or "Enter text"
};

inline constexpr std::string_view kVerdictOk = "OK";
inline constexpr std::string_view kVerdictFailed = "FAILED";
inline constexpr std::string_view kVerdictEnterText = "Enter text";

// The result box: compares the two texts byte for byte; when they are equal and not empty,
// scores the rhythms and sets the percentage against the threshold (unrounded values).
// A score that is not a number fails and is shown as "0.00".
Evaluation evaluate(std::string_view enteredText, std::string_view reenteredText,
                    const TimingSlots& entered, const TimingSlots& reentered, int sliderPosition);

} // namespace typrova
