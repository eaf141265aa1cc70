// The result box as a command: reads timing tables on stdin and prints, for each, the score
// text and verdict the main window would show, from the program's own timing code. The
// end-to-end replay asks it instead of computing scores itself.
//
// Input, one query after another (values in ms, slot 0 first, as the window stores them):
//   <slider position>
//   <entered text>
//   <reentered text>
//   <16 entered intervals>
//   <16 entered pressed times>
//   <16 reentered intervals>
//   <16 reentered pressed times>
// Output, one line per query: <score text> TAB <verdict> TAB <percentage, unrounded>.
// Exits 2 on malformed input.
#include "timing.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

namespace {

bool readValues(std::istream& in, std::array<double, typrova::kSlotCount>& values)
{
    std::string line;
    if (!std::getline(in, line))
        return false;
    std::istringstream fields(line);
    for (double& value : values) {
        std::string field;
        if (!(fields >> field))
            return false;
        char* end = nullptr;
        value = std::strtod(field.c_str(), &end);
        if (*end != '\0')
            return false;
    }
    std::string extra;
    return !(fields >> extra);
}

} // namespace

int main()
{
    std::string position;
    while (std::getline(std::cin, position)) {
        std::string entered, reentered;
        typrova::TimingSlots e, r;
        char* end = nullptr;
        const long slider = std::strtol(position.c_str(), &end, 10);
        if (position.empty() || *end != '\0' || !std::getline(std::cin, entered) ||
            !std::getline(std::cin, reentered) || !readValues(std::cin, e.intervals) ||
            !readValues(std::cin, e.pressed) || !readValues(std::cin, r.intervals) ||
            !readValues(std::cin, r.pressed)) {
            std::fprintf(stderr, "score_tool: malformed query\n");
            return 2;
        }
        const typrova::Evaluation shown =
            typrova::evaluate(entered, reentered, e, r, static_cast<int>(slider));
        const bool scored = !entered.empty() && entered == reentered;
        const double percentage =
            scored ? typrova::similarityScore(entered.size(), e, r) * 100.0 : 0.0;
        std::printf("%s\t%s\t%.17g\n", shown.score.c_str(), shown.verdict.c_str(), percentage);
    }
    return 0;
}
