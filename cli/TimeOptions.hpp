// How both commands read a file's times: weird-TC mode, a timecode rate for
// files that name none, or whole seconds.
#pragma once

#include <optional>
#include <string>

#include "cli/Output.hpp"
#include "recording/BWFParser.hpp"

namespace keeptime::cli {

struct TimeOptions {
    bool weirdTC = false;
    std::optional<std::string> tcRate;  // "25", "23.976", "29.97df"
    bool seconds = false;
};

// What the options choose, or nothing (after saying why) for a rate that cannot be read.
inline std::optional<ClockChoice> choiceOf(const TimeOptions& options) {
    ClockChoice choice{options.weirdTC, std::nullopt, options.seconds};
    if (options.tcRate && !(choice.rate = parseRateOption(*options.tcRate))) {
        complain("--tc-rate", "\"" + *options.tcRate + "\" is not a timecode rate (such as 25, 23.976 or 29.97df)");
        return std::nullopt;
    }
    return choice;
}

// The file's times as the options ask, or nothing (after saying why).
inline std::optional<Clock> timesFor(const BWFParser& parser, const TimeOptions& options) {
    const auto choice = choiceOf(options);
    if (!choice) return std::nullopt;
    return parser.clock(*choice);
}

}  // namespace keeptime::cli
