// Builds RIFF and RF64 test files from parts: chunks in any order, bext and iXML
// bodies, ds64, wrong sizes, files cut short, and sparse multi-gigabyte audio.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bwf/Bytes.hpp"

namespace keeptime::testing {

// Deterministic, non-repeating bytes: a copy that shifts or drops one shows.
Bytes audioPattern(std::size_t length, std::uint32_t seed = 1);
Bytes fmtBody(int channels, int sampleRate, int bitsPerSample);
// iXML carrying the given tag texts; an absent one is left out.
std::string ixmlText(const std::optional<std::string>& timestampLo,
                     const std::optional<std::string>& bwfLow, const std::string& note = "");

class WavWriter {
public:
    WavWriter& fileId(std::string id);
    WavWriter& rf64();  // "RF64", 0xFFFFFFFF sizes; add ds64() for the real ones
    WavWriter& chunk(std::string id, Bytes body, std::optional<std::uint32_t> size = {});
    WavWriter& chunk(std::string id, const std::string& text);
    WavWriter& fmt(int channels = 2, int sampleRate = 48000, int bitsPerSample = 24);
    WavWriter& bext(std::int64_t timeReference, const std::string& description = "");
    WavWriter& ixml(const std::string& xml) { return chunk("iXML", xml); }
    WavWriter& ds64();  // sizes computed from the file unless ds64Sizes() gives them
    WavWriter& ds64Sizes(std::int64_t riff, std::int64_t data, std::int64_t samples);
    WavWriter& data(Bytes audio);
    WavWriter& sparseData(std::int64_t length);  // zeros, written as a hole
    WavWriter& dataSize(std::uint32_t size);     // instead of the true one
    WavWriter& cutAt(std::size_t length);        // the file ends here

    Bytes build() const;  // not for sparse audio
    void write(const std::filesystem::path& path) const;
    std::size_t dataOffset() const;  // of the data chunk ID

private:
    struct Part {
        std::string id;
        Bytes body;
        std::optional<std::uint32_t> size;
        bool isData = false;
        bool isDS64 = false;
    };
    std::int64_t bodyLength(const Part& part) const;
    Bytes render() const;  // up to the data chunk header only, for sparse audio

    std::string fileId_ = "RIFF";
    bool rf64_ = false;
    std::vector<Part> parts_;
    std::optional<std::int64_t> sparse_;
    std::optional<std::uint32_t> dataSize_;
    std::optional<std::size_t> cutAt_;
    std::optional<std::array<std::int64_t, 3>> ds64Sizes_;
    int bytesPerFrame_ = 6;
};

}  // namespace keeptime::testing
