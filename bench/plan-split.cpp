// Times the planning of a split, as bench/split-bench.sh reports it: reading a
// list of segments and naming every copy (planSplit), and then planning every
// copy's bytes as the save does before it writes (TakeSave's constructor).
// Usage: keeptime_plan_split RECORDING LIST FOLDER [ROUNDS]
#include <chrono>
#include <iostream>

#include "recording/BWFParser.hpp"
#include "segments/Split.hpp"
#include "trim/TakeSave.hpp"

int main(int argc, char** argv) {
    using namespace keeptime;
    if (argc < 4) {
        std::cerr << "usage: keeptime_plan_split RECORDING LIST FOLDER [ROUNDS]\n";
        return 2;
    }
    const int rounds = argc > 4 ? std::atoi(argv[4]) : 9;
    const auto now = [] { return std::chrono::steady_clock::now(); };
    const auto ms = [](auto d) { return std::chrono::duration<double, std::milli>(d).count(); };
    try {
        for (int round = 0; round < rounds; ++round) {
            const auto start = now();
            const Clock clock = BWFParser(argv[1]).clock();
            const auto segments = readSegmentListFile(argv[2], clock);
            const SplitPlan plan = planSplit(segments, argv[1], {argv[1]}, argv[3], "", {});
            const auto planned = now();
            const TakeSave save(plan.requests);
            const auto copies = now();
            std::cout << segments.size() << " " << ms(planned - start) << " " << ms(copies - planned) << "\n";
        }
    } catch (const BWFError& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    return 0;
}
