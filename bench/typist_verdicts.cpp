// What the verdict is worth on real typists: rebuilds every typing of the touch-screen data
// set (one password, typed 51 times by each of 56 people) as key presses and releases, runs
// them through the window's own timing logic and scores fixed genuine and impostor pairs.
//
//   typist_verdicts [--data DIR] [--people N] [--typings N] [--curve FILE]
//   typist_verdicts [--data DIR] --typing PERSON:TYPING     the typing's events and table
//   typist_verdicts --score-events FILE|-                   tables and result of two typings
//
// Figures: false rejects (genuine pairs that get "FAILED") and false accepts (impostor pairs
// that get "OK") at the default threshold, the equal-error rate, and where the false-accept
// rate first drops to 10 % and to 1 %, over the slider's 0.01 steps. --curve writes both rates
// at every slider position as CSV, for the plot.
#include "timing.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace typrova;

namespace {

#ifndef TYPROVA_DEFAULT_DATA
#define TYPROVA_DEFAULT_DATA "../shared/realtyping"
#endif

constexpr int kSliderMax = 10000;
constexpr int kDefaultSlider = 5000;
// The fake counter runs at 10 MHz (as Wine's performance counter does), so whole and
// hundredth milliseconds are whole numbers of ticks.
constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr double kTicksPerMs = kTicksPerSecond / 1000.0;

// The data set's keys in typing order and the character each puts into the field ("" for
// the keyboard's layer keys). Enter is the 14th key: it would close the window, so it is
// not typed.
struct TouchKey {
    const char* name;
    const char* typed;
};
constexpr TouchKey kTouchKeys[] = {
    {".", "."}, {"t", "t"}, {"i", "i"}, {"e", "e"}, {"Shift", ""}, {"5", "5"},
    {"Shift.1", ""}, {"Caps", ""}, {"r", "R"}, {"o", "o"}, {"a", "a"}, {"n", "n"},
    {"l", "l"}};
constexpr int kTypedKeys = sizeof kTouchKeys / sizeof kTouchKeys[0]; // 13
constexpr int kKeysInRow = 14;
constexpr int kColumnsInRow = 71;

struct KeyEvent {
    double ms;         // time from the start of the typing
    bool down;
    std::string name;  // the key, for listings
    std::string typed; // what its press puts into the field ("" for none)
};

struct Typing {
    std::vector<KeyEvent> events; // in time order
};

// The window's view of one typing: the text it leaves in the field and the filed table.
struct Entry {
    std::string text;
    TimingSlots slots;
};

std::vector<double> parseRow(const std::string& line)
{
    std::vector<double> values;
    std::stringstream in(line);
    std::string cell;
    while (std::getline(in, cell, ',')) {
        char* end = nullptr;
        const double v = std::strtod(cell.c_str(), &end);
        if (end == cell.c_str())
            throw std::runtime_error("not a number: '" + cell + "'");
        values.push_back(v);
    }
    return values;
}

// First key pressed at 0, key k+1 at press(k) + DD(k), each released at its press + H.
Typing touchTyping(const std::vector<double>& row)
{
    if (row.size() != kColumnsInRow)
        throw std::runtime_error("a row has " + std::to_string(row.size()) + " values, not 71");
    Typing t;
    double press = 0.0;
    for (int k = 0; k < kTypedKeys; ++k) {
        if (k > 0)
            press += row[kKeysInRow + k - 1];
        const double hold = row[k];
        if (hold <= 0.0 || (k > 0 && row[kKeysInRow + k - 1] <= 0.0))
            throw std::runtime_error("a hold or a down-down time is not positive");
        t.events.push_back({press, true, kTouchKeys[k].name, kTouchKeys[k].typed});
        t.events.push_back({press + hold, false, kTouchKeys[k].name, ""});
    }
    std::stable_sort(t.events.begin(), t.events.end(),
                     [](const KeyEvent& a, const KeyEvent& b) { return a.ms < b.ms; });
    return t;
}

std::vector<std::vector<Typing>> loadTouch(const std::string& dir, int people, int typings)
{
    std::vector<std::vector<Typing>> all;
    for (int p = 1; p <= people; ++p) {
        const std::string path = dir + "/touch/" + std::to_string(p) + ".csv";
        std::ifstream file(path);
        if (!file)
            throw std::runtime_error("cannot read " + path);
        std::vector<Typing> person;
        std::string line;
        while (static_cast<int>(person.size()) < typings && std::getline(file, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.empty())
                continue;
            try {
                person.push_back(touchTyping(parseRow(line)));
            } catch (const std::exception& e) {
                throw std::runtime_error(path + " row " + std::to_string(person.size() + 1) +
                                         ": " + e.what());
            }
        }
        if (static_cast<int>(person.size()) < typings)
            throw std::runtime_error(path + " has " + std::to_string(person.size()) +
                                     " typings, " + std::to_string(typings) + " wanted");
        all.push_back(std::move(person));
    }
    return all;
}

// Plays the events into a fresh clock and one entry as the window does: every press and
// release stamps the clock, a press puts its character into the field, and every release
// files the clock's gaps under the text length at that moment.
Entry file(const Typing& t)
{
    TimingState clock;
    const double origin = t.events.empty() ? 0.0 : t.events.front().ms;
    clock.start(kTicksPerSecond, std::llround((origin - 1000.0) * kTicksPerMs));
    Entry entry;
    for (const KeyEvent& e : t.events) {
        clock.stamp(std::llround(e.ms * kTicksPerMs));
        if (e.down)
            entry.text += e.typed;
        else
            clock.recordRelease(entry.slots, entry.text.size());
    }
    return entry;
}

// The highest slider position at which the window says "OK" for this pair, or -1 if it says
// "FAILED" even at 0. The verdict can only turn from "OK" to "FAILED" as the threshold rises,
// so a binary search over the window's own evaluate finds it.
int highestOkPosition(const Entry& entered, const Entry& reentered)
{
    auto ok = [&](int pos) {
        return evaluate(entered.text, reentered.text, entered.slots, reentered.slots, pos)
                   .verdict == kVerdictOk;
    };
    if (!ok(0))
        return -1;
    int lo = 0, hi = kSliderMax; // ok(lo) holds
    if (ok(hi))
        return hi;
    while (hi - lo > 1) {
        const int mid = lo + (hi - lo) / 2;
        (ok(mid) ? lo : hi) = mid;
    }
    return lo;
}

struct Rates {
    // counts[pos] = pairs whose highest "OK" position is pos; -1 is kept in the first cell.
    std::vector<long> counts = std::vector<long>(kSliderMax + 2, 0);
    long total = 0;

    void add(int highestOk)
    {
        ++counts[static_cast<std::size_t>(highestOk + 1)];
        ++total;
    }
};

// ok[pos] = pairs with the verdict "OK" at slider position pos.
std::vector<long> okCounts(const Rates& r)
{
    std::vector<long> ok(kSliderMax + 1, 0);
    long atOrAbove = 0;
    for (int pos = kSliderMax; pos >= 0; --pos) {
        atOrAbove += r.counts[static_cast<std::size_t>(pos + 1)];
        ok[static_cast<std::size_t>(pos)] = atOrAbove;
    }
    return ok;
}

double percent(long part, long whole)
{
    return whole == 0 ? std::nan("") : 100.0 * static_cast<double>(part) / whole;
}

void printTable(const Entry& e)
{
    std::printf("text %s\n", e.text.c_str());
    for (int k = 1; k <= kMaxKeys; ++k)
        std::printf("key %d interval %s pressed %s\n", k,
                    formatNumber(e.slots.intervals[static_cast<std::size_t>(k)]).c_str(),
                    formatNumber(e.slots.pressed[static_cast<std::size_t>(k)]).c_str());
}

int figures(const std::string& dir, int people, int typings, const std::string& curvePath)
{
    const auto data = loadTouch(dir, people, typings);
    std::vector<std::vector<Entry>> entries;
    for (const auto& person : data) {
        entries.emplace_back();
        for (const Typing& t : person)
            entries.back().push_back(file(t));
    }

    // Genuine: typing r against typing r+1 of the same person. Impostor: typing r of A
    // against typing r of B, for every ordered pair of different people and every r. The
    // first of a pair is the Entered field, the second the Re-entered field.
    Rates genuine, impostor;
    for (int a = 0; a < people; ++a)
        for (int r = 0; r + 1 < typings; ++r)
            genuine.add(highestOkPosition(entries[a][r], entries[a][r + 1]));
    for (int a = 0; a < people; ++a)
        for (int b = 0; b < people; ++b)
            if (a != b)
                for (int r = 0; r < typings; ++r)
                    impostor.add(highestOkPosition(entries[a][r], entries[b][r]));

    const std::vector<long> genuineOk = okCounts(genuine), impostorOk = okCounts(impostor);
    auto frr = [&](int pos) {
        return percent(genuine.total - genuineOk[static_cast<std::size_t>(pos)], genuine.total);
    };
    auto far = [&](int pos) {
        return percent(impostorOk[static_cast<std::size_t>(pos)], impostor.total);
    };

    std::printf("data %s/touch: %d people, %d typings each, text \"%s\" (%zu characters)\n",
                dir.c_str(), people, typings, entries[0][0].text.c_str(),
                entries[0][0].text.size());
    std::printf("pairs genuine=%ld impostor=%ld\n", genuine.total, impostor.total);
    const std::size_t def = kDefaultSlider;
    std::printf("default threshold=%s frr=%.2f far=%.2f false_rejects=%ld false_accepts=%ld\n",
                thresholdText(kDefaultSlider).c_str(), frr(kDefaultSlider), far(kDefaultSlider),
                genuine.total - genuineOk[def], impostorOk[def]);

    // Equal error: the slider position where the two rates are closest (the lowest such).
    int eer = 0;
    for (int pos = 1; pos <= kSliderMax; ++pos)
        if (std::fabs(frr(pos) - far(pos)) < std::fabs(frr(eer) - far(eer)))
            eer = pos;
    std::printf("eer rate=%.2f threshold=%s frr=%.2f far=%.2f\n", (frr(eer) + far(eer)) / 2.0,
                thresholdText(eer).c_str(), frr(eer), far(eer));

    for (const double goal : {10.0, 1.0}) {
        int pos = 0;
        while (pos <= kSliderMax && far(pos) > goal)
            ++pos;
        if (pos > kSliderMax)
            std::printf("far<=%g threshold=none\n", goal);
        else
            std::printf("far<=%g threshold=%s frr=%.2f far=%.2f\n", goal,
                        thresholdText(pos).c_str(), frr(pos), far(pos));
    }

    if (!curvePath.empty()) {
        std::ofstream out(curvePath);
        if (!out)
            throw std::runtime_error("cannot write " + curvePath);
        out << "threshold,frr,far\n";
        char line[64];
        for (int pos = 0; pos <= kSliderMax; ++pos) {
            std::snprintf(line, sizeof line, "%s,%.4f,%.4f\n", thresholdText(pos).c_str(),
                          frr(pos), far(pos));
            out << line;
        }
    }
    return 0;
}

int showTyping(const std::string& dir, const std::string& which)
{
    const auto colon = which.find(':');
    if (colon == std::string::npos)
        throw std::runtime_error("--typing wants PERSON:TYPING, e.g. 1:1");
    const int person = std::stoi(which.substr(0, colon));
    const int typing = std::stoi(which.substr(colon + 1));
    if (person < 1 || typing < 1)
        throw std::runtime_error("person and typing count from 1");
    const auto data = loadTouch(dir, person, typing);
    const Typing& t = data[static_cast<std::size_t>(person - 1)][static_cast<std::size_t>(typing - 1)];
    for (const KeyEvent& e : t.events)
        std::printf("event %.3f %s %s %s\n", e.ms, e.down ? "down" : "up", e.name.c_str(),
                    e.typed.empty() ? "-" : e.typed.c_str());
    printTable(file(t));
    return 0;
}

// Two typings as lines "<E|R> <time_ms> <down|up> <character or ->"; prints both tables, the
// score and the verdict the window gives them at the default threshold.
int scoreEvents(const std::string& path)
{
    std::ifstream file_in;
    std::istream* in = &std::cin;
    if (path != "-") {
        file_in.open(path);
        if (!file_in)
            throw std::runtime_error("cannot read " + path);
        in = &file_in;
    }
    Typing typings[2];
    std::string line;
    int lineNo = 0;
    while (std::getline(*in, line)) {
        ++lineNo;
        std::stringstream s(line);
        std::string fieldName, kind, typed;
        double ms = 0.0;
        if (!(s >> fieldName))
            continue;
        if (!(s >> ms >> kind >> typed) || (fieldName != "E" && fieldName != "R") ||
            (kind != "down" && kind != "up"))
            throw std::runtime_error("line " + std::to_string(lineNo) +
                                     ": expected '<E|R> <ms> <down|up> <character or ->'");
        typings[fieldName == "R"].events.push_back(
            {ms, kind == "down", typed, typed == "-" ? "" : typed});
    }
    const Entry entered = file(typings[0]), reentered = file(typings[1]);
    std::printf("entered ");
    printTable(entered);
    std::printf("reentered ");
    printTable(reentered);
    const Evaluation ev = evaluate(entered.text, reentered.text, entered.slots, reentered.slots,
                                   kDefaultSlider);
    std::printf("score %s\nverdict %s\n", ev.score.c_str(), ev.verdict.c_str());
    return 0;
}

int usage()
{
    std::fprintf(stderr,
                 "usage: typist_verdicts [--data DIR] [--people N] [--typings N] [--curve FILE]\n"
                 "       typist_verdicts [--data DIR] --typing PERSON:TYPING\n"
                 "       typist_verdicts --score-events FILE|-\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::string dir = TYPROVA_DEFAULT_DATA, curve, typing, events;
    int people = 56, typings = 51;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return usage();
        const std::string value = argv[++i];
        if (arg == "--data")
            dir = value;
        else if (arg == "--people")
            people = std::atoi(value.c_str());
        else if (arg == "--typings")
            typings = std::atoi(value.c_str());
        else if (arg == "--curve")
            curve = value;
        else if (arg == "--typing")
            typing = value;
        else if (arg == "--score-events")
            events = value;
        else
            return usage();
    }
    if (people < 2 || people > 56 || typings < 2 || typings > 51) {
        std::fprintf(stderr, "typist_verdicts: --people 2..56 and --typings 2..51\n");
        return 2;
    }
    try {
        if (!events.empty())
            return scoreEvents(events);
        if (!typing.empty())
            return showTyping(dir, typing);
        return figures(dir, people, typings, curve);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "typist_verdicts: %s\n", e.what());
        return 1;
    }
}
