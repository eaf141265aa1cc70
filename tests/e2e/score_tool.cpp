// The program's similarity as a command: reads timing tables on stdin and prints, for each
// query, the similarity the program's own timing code works out for them. The end-to-end
// replay asks it instead of computing scores itself.
//
// Input, one query after another (values in ms, slot 0 first, as the window stores them):
//   <number of keys scored, 1 or more>
//   <16 entered intervals>
//   <16 entered pressed times>
//   <16 reentered intervals>
//   <16 reentered pressed times>
// Output, one line per query: the similarity in percent, unrounded. Exits 2 on malformed input.
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
    std::string keys;
    while (std::getline(std::cin, keys)) {
        typrova::TimingSlots e, r;
        char* end = nullptr;
        const long n = std::strtol(keys.c_str(), &end, 10);
        if (keys.empty() || *end != '\0' || n < 1 || !readValues(std::cin, e.intervals) ||
            !readValues(std::cin, e.pressed) || !readValues(std::cin, r.intervals) ||
            !readValues(std::cin, r.pressed)) {
            std::fprintf(stderr, "score_tool: malformed query\n");
            return 2;
        }
        std::printf("%.17g\n", typrova::similarityScore(static_cast<std::size_t>(n), e, r) * 100.0);
    }
    return 0;
}
