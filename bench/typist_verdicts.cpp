// What the verdict is worth on real typists: rebuilds every typing of two data sets of one
// password, .tie5Roanl (56 people on a tablet's touch keyboard; 51 people on a physical
// keyboard), as key presses and releases, runs them through the window's own timing logic and
// scores fixed genuine and impostor pairs.
//
// Figures, per set: false rejects (genuine pairs that get "FAILED") and false accepts
// (impostor pairs that get "OK") at the default threshold, the equal-error rate, and where
// the false-accept rate first drops to 10 % and to 1 %, over the slider's 0.01 steps. Pairs
// are formed within a recording session. --curve writes both rates of each set at every
// slider position as CSV, for the plot. Every file is read and checked before anything is
// printed, so bad input gives a message naming its file and line and no figures.
#include "timing.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <map>
#include <numeric>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace typrova;

namespace {

constexpr int kSliderMax = 10000;
constexpr int kDefaultSlider = 5000;
// The fake counter runs at 10 MHz (as Wine's performance counter does), so whole and
// hundredth milliseconds are whole numbers of ticks.
constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr double kTicksPerMs = kTicksPerSecond / 1000.0;

// A key of a data set, in typing order, and the character its press puts into the field (""
// for keys without one).
struct DataKey {
    const char* name;
    const char* typed;
};

// Touch set: 14 keys; Enter is the 14th and would close the window, so it is not typed.
// Shift, Shift.1 and Caps are the tablet's layer keys.
constexpr DataKey kTouchKeys[] = {
    {".", "."}, {"t", "t"}, {"i", "i"}, {"e", "e"}, {"Shift", ""}, {"5", "5"},
    {"Shift.1", ""}, {"Caps", ""}, {"r", "R"}, {"o", "o"}, {"a", "a"}, {"n", "n"},
    {"l", "l"}};
constexpr std::size_t kTouchKeysInRow = 14;
constexpr int kTouchColumns = 71;
const char* const kTouchNote =
    "Enter is not typed; Shift, Shift.1 and Caps are typed as keys without a character";

// Keyboard set: named by its columns (H.<key>, DD.<key>.<next key>). Return would close the
// window, so it is not typed. The Shift of the capital R was not recorded, so that key is
// typed as the plain r key and the text is .tie5roanl.
constexpr DataKey kKeyboardKeys[] = {
    {"period", "."}, {"t", "t"}, {"i", "i"}, {"e", "e"}, {"five", "5"}, {"Shift.r", "r"},
    {"o", "o"}, {"a", "a"}, {"n", "n"}, {"l", "l"}};
const char* const kKeyboardNote =
    "Return is not typed; the Shift of the capital R was not recorded, so R is typed as the "
    "plain r key";
const char* const kKeyboardFile = "keyboard-password/DSL-StrongPasswordData-session1.csv";

struct KeyEvent {
    double ms;         // time from the start of the typing
    bool down;
    std::string name;  // the key, for listings
    std::string typed; // what its press puts into the field ("" for none)
};

struct Typing {
    std::vector<KeyEvent> events; // in time order
    std::string place;            // "FILE line N", for messages
};

// The window's view of one typing: the text it leaves in the field and the filed table.
struct Entry {
    std::string text;
    TimingSlots slots;
};

// One data set as the pairing needs it: sessions[s][p] holds person p's typings of session s
// in recorded order (empty where the person has none in that session).
struct DataSet {
    std::string name;   // "touch" or "keyboard"
    std::string source; // folder or file read
    std::string note;   // what is not typed as recorded
    std::vector<std::string> people;
    std::vector<std::vector<std::vector<Typing>>> sessions;
};

// Where a row of a set holds the times of one typing: the hold of key k in column holdAt[k],
// the press-to-press time before key k + 1 in downDownAt[k]; names[c] names column c in
// messages, and msPerUnit turns the set's unit into ms.
struct Layout {
    const DataKey* keys;
    double msPerUnit;
    std::vector<std::string> names;
    std::vector<std::size_t> holdAt, downDownAt;
};

std::runtime_error inputError(const std::string& place, const std::string& what)
{
    return std::runtime_error(place + ": " + what);
}

std::vector<std::string> splitCells(const std::string& line)
{
    std::vector<std::string> cells;
    std::istringstream in(line);
    for (std::string cell; std::getline(in, cell, ',');)
        cells.push_back(cell);
    return cells;
}

// The whole cell must be a finite number.
double number(const std::string& cell, const std::string& column)
{
    char* end = nullptr;
    const double v = std::strtod(cell.c_str(), &end);
    while (end != nullptr && (*end == ' ' || *end == '\t'))
        ++end;
    if (cell.empty() || end == cell.c_str() || *end != '\0' || !std::isfinite(v))
        throw std::runtime_error(column + " is not a number: '" + cell + "'");
    return v;
}

// One row as key presses and releases: the first key pressed at 0, key k+1 at press(k) +
// DD(k), each released at its press + H(k). Every cell is read before any time is checked.
Typing readTyping(const std::vector<std::string>& cells, const Layout& l, const std::string& place)
{
    std::vector<double> holds, downDown;
    for (std::size_t k = 0; k < l.holdAt.size(); ++k) {
        holds.push_back(l.msPerUnit * number(cells[l.holdAt[k]], l.names[l.holdAt[k]]));
        if (k > 0)
            downDown.push_back(l.msPerUnit * number(cells[l.downDownAt[k - 1]],
                                                    l.names[l.downDownAt[k - 1]]));
    }
    Typing t{{}, place};
    double press = 0.0;
    for (std::size_t k = 0; k < holds.size(); ++k) {
        const std::string key = l.keys[k].name;
        if (holds[k] <= 0.0)
            throw std::runtime_error("the hold of key " + key + " is not positive (" +
                                     formatNumber(holds[k]) + " ms)");
        if (k > 0) {
            if (downDown[k - 1] <= 0.0)
                throw std::runtime_error("the press-to-press time before key " + key +
                                         " is not positive (" + formatNumber(downDown[k - 1]) +
                                         " ms)");
            press += downDown[k - 1];
        }
        t.events.push_back({press, true, key, l.keys[k].typed});
        t.events.push_back({press + holds[k], false, key, ""});
    }
    std::stable_sort(t.events.begin(), t.events.end(),
                     [](const KeyEvent& a, const KeyEvent& b) { return a.ms < b.ms; });
    return t;
}

// Calls row(cells, place) for every non-empty line of `in`, the first being line `lineNo` of
// `path`, once the line has `columns` values; whatever a row throws is reported with its file
// and line. `wanted` says in a message how many values a row should have.
template <typename Row>
void forEachRow(std::istream& in, const std::string& path, int lineNo, std::size_t columns,
                const std::string& wanted, Row row)
{
    std::string line;
    for (; std::getline(in, line); ++lineNo) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        const std::string place = path + " line " + std::to_string(lineNo);
        try {
            const std::vector<std::string> cells = splitCells(line);
            if (cells.size() != columns)
                throw std::runtime_error(std::to_string(cells.size()) + " values, " + wanted);
            row(cells, place);
        } catch (const std::runtime_error& e) {
            throw inputError(place, e.what());
        }
    }
}

// touch/1.csv, 2.csv, ...: one person a file, one typing a row, 71 values, times in ms.
// Reads every file from 1.csv up while they exist.
DataSet loadTouch(const std::string& dir)
{
    DataSet set{"touch", dir + "/touch", kTouchNote, {}, {{}}};
    Layout layout{kTouchKeys, 1.0, {}, {}, {}};
    for (int c = 1; c <= kTouchColumns; ++c)
        layout.names.push_back("column " + std::to_string(c));
    for (std::size_t k = 0; k < std::size(kTouchKeys); ++k) {
        layout.holdAt.push_back(k);
        layout.downDownAt.push_back(kTouchKeysInRow + k);
    }
    for (int p = 1;; ++p) {
        const std::string path = dir + "/touch/" + std::to_string(p) + ".csv";
        std::ifstream file(path);
        if (!file) {
            if (p > 1)
                break;
            throw std::runtime_error("cannot read " + path);
        }
        std::vector<Typing> person;
        forEachRow(file, path, 1, kTouchColumns, "not " + std::to_string(kTouchColumns),
                   [&](const std::vector<std::string>& cells, const std::string& place) {
                       person.push_back(readTyping(cells, layout, place));
                   });
        set.people.push_back(std::to_string(p));
        set.sessions[0].push_back(std::move(person));
    }
    return set;
}

// The keyboard set's own CSV: a header naming the columns, then one typing a row: subject,
// sessionIndex, rep, and per key H.<key> and DD.<key>.<next key> (and UD, not needed), in
// seconds. Reads the one-session file and the full eight-session one alike; rows are grouped
// by subject and session, in file order.
DataSet loadKeyboard(const std::string& path)
{
    DataSet set{"keyboard", path, kKeyboardNote, {}, {}};
    std::ifstream file(path);
    if (!file)
        throw std::runtime_error("cannot read " + path);
    std::string line;
    if (!std::getline(file, line))
        throw inputError(path + " line 1", "empty file, no header");
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    Layout layout{kKeyboardKeys, 1000.0, splitCells(line), {}, {}};
    auto column = [&](const std::string& name) {
        const auto at = std::find(layout.names.begin(), layout.names.end(), name);
        if (at == layout.names.end())
            throw inputError(path + " line 1", "no column " + name);
        return static_cast<std::size_t>(at - layout.names.begin());
    };
    const std::size_t subjectAt = column("subject"), sessionAt = column("sessionIndex");
    for (std::size_t k = 0; k < std::size(kKeyboardKeys); ++k) {
        layout.holdAt.push_back(column(std::string("H.") + kKeyboardKeys[k].name));
        if (k > 0)
            layout.downDownAt.push_back(column(std::string("DD.") + kKeyboardKeys[k - 1].name +
                                               "." + kKeyboardKeys[k].name));
    }

    std::map<double, std::vector<std::vector<Typing>>> bySession; // in session number order
    const std::string wanted = "the header names " + std::to_string(layout.names.size());
    forEachRow(file, path, 2, layout.names.size(), wanted,
               [&](const std::vector<std::string>& cells, const std::string& place) {
        const double session = number(cells[sessionAt], "sessionIndex");
        if (session != std::floor(session))
            throw std::runtime_error("sessionIndex is not a whole number: '" + cells[sessionAt] +
                                     "'");
        Typing t = readTyping(cells, layout, place);
        const std::string& subject = cells[subjectAt];
        if (subject.empty())
            throw std::runtime_error("no subject");
        const auto p = static_cast<std::size_t>(
            std::find(set.people.begin(), set.people.end(), subject) - set.people.begin());
        if (p == set.people.size())
            set.people.push_back(subject);
        auto& sessionPeople = bySession[session];
        if (sessionPeople.size() <= p)
            sessionPeople.resize(p + 1);
        sessionPeople[p].push_back(std::move(t));
    });
    for (auto& numberAndPeople : bySession) {
        set.sessions.push_back(std::move(numberAndPeople.second));
        set.sessions.back().resize(set.people.size());
    }
    return set;
}

// Refuses a set of fewer than two people, and a person with a single typing in a session:
// there is no genuine pair for it, and the figures would quietly leave that person out.
void checkPairs(const DataSet& set)
{
    if (set.people.size() < 2)
        throw std::runtime_error(set.source + " has fewer than 2 people");
    for (const auto& session : set.sessions)
        for (std::size_t p = 0; p < session.size(); ++p)
            if (session[p].size() == 1)
                throw inputError(session[p][0].place, set.name == "touch"
                                     ? "the only typing of this person; a genuine pair needs two"
                                     : "the only typing of subject " + set.people[p] +
                                           " in its session; a genuine pair needs two");
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

// ok[pos] = pairs with the verdict "OK" at slider position pos, from each pair's highest "OK"
// position (-1: "FAILED" everywhere).
std::vector<long> okCounts(const std::vector<int>& highestOk)
{
    std::vector<long> ok(kSliderMax + 1, 0);
    for (const int pos : highestOk)
        if (pos >= 0)
            ++ok[pos];
    std::partial_sum(ok.rbegin(), ok.rend(), ok.rbegin());
    return ok;
}

double percent(long part, std::size_t whole)
{
    return whole == 0 ? std::nan("") : 100.0 * static_cast<double>(part) / whole;
}

void printTable(const Entry& e)
{
    std::printf("text %s\n", e.text.c_str());
    for (int k = 1; k <= kMaxKeys; ++k)
        std::printf("key %d interval %s pressed %s\n", k,
                    formatNumber(e.slots.intervals[k]).c_str(),
                    formatNumber(e.slots.pressed[k]).c_str());
}

// One set's pairs scored.
struct Figures {
    std::size_t sessions = 0, genuine = 0, impostor = 0;
    long typings = 0;
    std::string text;
    std::vector<long> genuineOk, impostorOk; // pairs that get "OK" at every slider position
    std::vector<double> frr, far;            // % at every slider position
};

Figures score(const DataSet& set)
{
    // Genuine: typing k against typing k+1 of the same person and session. Impostor: typing
    // k of A against typing k of B in the same session, for every ordered pair of different
    // people. The first of a pair is the Entered field, the second the Re-entered field.
    std::vector<int> genuine, impostor; // each pair's highest "OK" position
    Figures f;
    for (const auto& session : set.sessions) {
        std::vector<std::vector<Entry>> entries;
        for (const auto& person : session) {
            entries.emplace_back();
            for (const Typing& t : person)
                entries.back().push_back(file(t));
            f.typings += static_cast<long>(person.size());
            if (f.text.empty() && !entries.back().empty())
                f.text = entries.back().front().text;
        }
        f.sessions += std::any_of(entries.begin(), entries.end(),
                                  [](const auto& p) { return !p.empty(); });
        for (const auto& person : entries)
            for (std::size_t k = 0; k + 1 < person.size(); ++k)
                genuine.push_back(highestOkPosition(person[k], person[k + 1]));
        for (std::size_t a = 0; a < entries.size(); ++a)
            for (std::size_t b = 0; b < entries.size(); ++b)
                if (a != b)
                    for (std::size_t k = 0; k < std::min(entries[a].size(), entries[b].size());
                         ++k)
                        impostor.push_back(highestOkPosition(entries[a][k], entries[b][k]));
    }

    f.genuine = genuine.size();
    f.impostor = impostor.size();
    f.genuineOk = okCounts(genuine);
    f.impostorOk = okCounts(impostor);
    for (int pos = 0; pos <= kSliderMax; ++pos) {
        f.frr.push_back(percent(static_cast<long>(f.genuine) - f.genuineOk[pos], f.genuine));
        f.far.push_back(percent(f.impostorOk[pos], f.impostor));
    }
    return f;
}

void report(const DataSet& set, const Figures& f)
{
    const auto at = [&](int pos) { // both rates at one slider position
        return "threshold=" + thresholdText(pos) + " frr=" + formatNumber(f.frr[pos]) +
               " far=" + formatNumber(f.far[pos]);
    };
    const char* n = set.name.c_str();
    std::printf("%s data %s: people=%zu sessions=%zu typings=%ld text \"%s\" (%zu characters)\n",
                n, set.source.c_str(), set.people.size(), f.sessions, f.typings, f.text.c_str(),
                f.text.size());
    std::printf("%s note %s\n", n, set.note.c_str());
    std::printf("%s pairs genuine=%zu impostor=%zu\n", n, f.genuine, f.impostor);
    std::printf("%s default %s false_rejects=%ld false_accepts=%ld\n", n,
                at(kDefaultSlider).c_str(),
                static_cast<long>(f.genuine) - f.genuineOk[kDefaultSlider],
                f.impostorOk[kDefaultSlider]);

    // Equal error: the slider position where the two rates are closest (the lowest such).
    int eer = 0;
    for (int pos = 1; pos <= kSliderMax; ++pos)
        if (std::fabs(f.frr[pos] - f.far[pos]) < std::fabs(f.frr[eer] - f.far[eer]))
            eer = pos;
    std::printf("%s eer rate=%.2f %s\n", n, (f.frr[eer] + f.far[eer]) / 2.0, at(eer).c_str());

    for (const double goal : {10.0, 1.0}) {
        int pos = 0;
        while (pos <= kSliderMax && f.far[pos] > goal)
            ++pos;
        std::printf("%s far<=%g %s\n", n, goal,
                    pos > kSliderMax ? "threshold=none" : at(pos).c_str());
    }
}

struct Options {
    std::string dir = TYPROVA_DEFAULT_DATA, keyboardFile, curve, typing, events;
};

std::string keyboardPath(const Options& o)
{
    return o.keyboardFile.empty() ? o.dir + "/" + kKeyboardFile : o.keyboardFile;
}

// Reads and checks both sets whole, and writes the curve, before printing any figure.
int figures(const Options& o)
{
    const std::vector<DataSet> sets{loadTouch(o.dir), loadKeyboard(keyboardPath(o))};
    std::vector<Figures> results;
    for (const DataSet& s : sets) {
        checkPairs(s);
        results.push_back(score(s));
    }
    if (!o.curve.empty()) {
        std::ofstream out(o.curve);
        if (!out)
            throw std::runtime_error("cannot write " + o.curve);
        out << "set,threshold,frr,far\n" << std::fixed << std::setprecision(4);
        for (std::size_t i = 0; i < sets.size(); ++i)
            for (int pos = 0; pos <= kSliderMax; ++pos)
                out << sets[i].name << ',' << thresholdText(pos) << ',' << results[i].frr[pos]
                    << ',' << results[i].far[pos] << '\n';
        if (!out.flush())
            throw std::runtime_error("cannot write " + o.curve);
    }
    for (std::size_t i = 0; i < sets.size(); ++i)
        report(sets[i], results[i]);
    return 0;
}

// --typing SET:PERSON:TYPING. PERSON counts people in order (touch: the file number;
// keyboard: subjects in file order), TYPING counts that person's typings in order, through
// the sessions.
int showTyping(const Options& o)
{
    char name[16] = {};
    int person = 0, typing = 0;
    if (std::sscanf(o.typing.c_str(), "%15[a-z]:%d:%d", name, &person, &typing) != 3 ||
        (std::string(name) != "touch" && std::string(name) != "keyboard"))
        throw std::runtime_error("--typing wants touch|keyboard:PERSON:TYPING, e.g. touch:1:1");
    if (person < 1 || typing < 1)
        throw std::runtime_error("person and typing count from 1");
    const DataSet set =
        std::string(name) == "touch" ? loadTouch(o.dir) : loadKeyboard(keyboardPath(o));
    if (static_cast<std::size_t>(person) > set.people.size())
        throw std::runtime_error(set.source + " has " + std::to_string(set.people.size()) +
                                 " people");
    std::vector<const Typing*> all;
    for (const auto& session : set.sessions)
        for (const Typing& t : session[person - 1])
            all.push_back(&t);
    if (static_cast<std::size_t>(typing) > all.size())
        throw std::runtime_error("person " + set.people[person - 1] + " has " +
                                 std::to_string(all.size()) + " typings");
    const Typing& t = *all[typing - 1];
    std::printf("typing %s\n", t.place.c_str());
    for (const KeyEvent& e : t.events)
        std::printf("event %.3f %s %s %s\n", e.ms, e.down ? "down" : "up", e.name.c_str(),
                    e.typed.empty() ? "-" : e.typed.c_str());
    printTable(file(t));
    return 0;
}

// Two typings on standard input as lines "<E|R> <time_ms> <down|up> <character or ->"; prints
// both tables, the score and the verdict the window gives them at the default threshold.
int scoreEvents()
{
    Typing typings[2];
    std::string line;
    for (int lineNo = 1; std::getline(std::cin, line); ++lineNo) {
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
                 "usage: typist_verdicts [--data DIR] [--keyboard-file CSV] [--curve FILE]\n"
                 "       typist_verdicts [--data DIR] [--keyboard-file CSV] "
                 "--typing touch|keyboard:PERSON:TYPING\n"
                 "       typist_verdicts --score-events - (two typings' events on stdin)\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    const std::map<std::string, std::string*> options{
        {"--data", &o.dir},     {"--keyboard-file", &o.keyboardFile}, {"--curve", &o.curve},
        {"--typing", &o.typing}, {"--score-events", &o.events}};
    for (int i = 1; i < argc; i += 2) {
        const auto option = options.find(argv[i]);
        if (option == options.end() || i + 1 >= argc)
            return usage();
        *option->second = argv[i + 1];
    }
    try {
        if (!o.events.empty())
            return o.events == "-" ? scoreEvents() : usage();
        if (!o.typing.empty())
            return showTyping(o);
        return figures(o);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "typist_verdicts: %s\n", e.what());
        return 1;
    }
}
