// Reads one Broadcast-WAV (RIFF or RF64) file's header into a read-only record.
// Construction does the whole parse; a file that cannot be used throws BWFError
// and yields no parser.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iostream>
#include <utility>

#include "bwf/BWFFormat.hpp"
#include "bwf/Bytes.hpp"
#include "bwf/HeadScan.hpp"

namespace keeptime {

class BWFParser {
public:
    static constexpr std::int64_t MAXSEARCH = keeptime::MAXSEARCH;

    // Reads at most MAXSEARCH bytes of url once, then writes "Done" to out.
    explicit BWFParser(std::filesystem::path url, std::ostream& out = std::cout);

    const std::filesystem::path& url() const { return url_; }
    bool rf64() const { return info_.rf64; }
    // The header bytes in front of the data chunk ID: [0, D).
    const Bytes& preData() const { return preData_; }
    std::pair<std::int64_t, std::int64_t> preDataRange() const {
        return {0, static_cast<std::int64_t>(preData_.size())};
    }
    std::int64_t audioDataLength() const { return info_.audioDataLength; }
    std::int16_t bytesPerFrame() const { return info_.bytesPerFrame; }
    std::int32_t samplesPerSecond() const { return info_.samplesPerSecond; }
    std::int64_t samplesSinceMidnight() const { return info_.samplesSinceMidnight; }
    TimeReferenceSource timeReferenceSource() const { return info_.timeReferenceSource; }
    const Landmarks& landmarks() const { return info_.at; }

    // Whole frames of audio; a trailing partial frame does not count.
    std::int64_t frames() const { return info_.audioDataLength / info_.bytesPerFrame; }

private:
    std::filesystem::path url_;
    HeadInfo info_;
    Bytes preData_;
};

}  // namespace keeptime
