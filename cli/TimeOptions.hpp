// How both commands read a file's times: weird-TC mode, a timecode rate for
// files that name none, or whole seconds.
#pragma once

#include <optional>
#include <string>

#include "cli/Output.hpp"
#include "trim/TrimRange.hpp"

namespace keeptime::cli {

struct TimeOptions {
    bool weirdTC = false;
    std::optional<std::string> tcRate;  // "25", "23.976", "29.97df"
    bool seconds = false;
};

// The file's times as the options ask, or nothing (after saying why) for a rate that cannot be read.
inline std::optional<FileTimes> timesFor(const BWFParser& parser, const TimeOptions& options) {
    std::optional<TimecodeRate> rate;
    if (options.tcRate && !(rate = parseRateOption(*options.tcRate))) {
        complain("--tc-rate", "\"" + *options.tcRate + "\" is not a timecode rate (such as 25, 23.976 or 29.97df)");
        return std::nullopt;
    }
    return fileTimes(parser, options.weirdTC, rate, options.seconds);
}

}  // namespace keeptime::cli
