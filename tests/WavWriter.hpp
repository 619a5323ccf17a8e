// Builds RIFF and RF64 test files from parts: chunks in any order, bext and iXML
// bodies, ds64, wrong or odd sizes, files cut short, and sparse multi-gigabyte audio.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bwf/Bytes.hpp"

namespace keeptime::testing {

// A deterministic, non-repeating byte pattern: copies that shift or drop a byte show.
Bytes audioPattern(std::size_t length, std::uint32_t seed = 1);

// A canonical PCM "fmt " body.
Bytes fmtBody(int channels, int sampleRate, int bitsPerSample);
// A bext body (602 bytes) with the description text and 64-bit TimeReference.
Bytes bextBody(std::int64_t timeReference, const std::string& description = "");
// A small iXML document carrying value in the given tags (both by default).
// Absent tags are left out; the text between tags is taken as given.
std::string ixmlText(const std::optional<std::string>& timestampLo,
                     const std::optional<std::string>& bwfLow, const std::string& note = "");

class WavWriter {
public:
    WavWriter& fileId(std::string id);           // "RIFF" by default, "RF64" via rf64()
    WavWriter& rf64();                            // "RF64" id, 0xFFFFFFFF sizes, ds64 filled in
    WavWriter& riffSize(std::uint32_t size);      // instead of the computed one
    WavWriter& chunk(std::string id, Bytes body, std::optional<std::uint32_t> size = {},
                     bool padded = true);
    WavWriter& chunk(std::string id, const std::string& body);
    WavWriter& fmt(int channels = 2, int sampleRate = 48000, int bitsPerSample = 24);
    WavWriter& bext(std::int64_t timeReference, const std::string& description = "");
    WavWriter& ixml(const std::string& xml);
    WavWriter& ds64();                            // placeholder; its sizes are computed
    WavWriter& ds64Sizes(std::int64_t riff, std::int64_t data, std::int64_t samples);
    WavWriter& data(Bytes audio);                 // the data chunk, at this place in the order
    WavWriter& sparseData(std::int64_t length);   // zero audio of any length, written sparse
    WavWriter& dataSize(std::uint32_t size);      // instead of the computed one
    WavWriter& cutAt(std::size_t length);         // the file ends here

    // Whole file in memory (not for sparse data).
    Bytes build() const;
    void write(const std::filesystem::path& path) const;

    // Where the data chunk ID lands in the built file.
    std::size_t dataOffset() const;

private:
    struct Part {
        std::string id;
        Bytes body;
        std::optional<std::uint32_t> size;
        bool padded = true;
        bool isData = false;
        bool isDS64 = false;
    };
    Bytes header(std::int64_t fileLength) const;
    std::int64_t fileLength() const;
    std::int64_t audioLength() const;

    std::string fileId_ = "RIFF";
    bool rf64_ = false;
    std::optional<std::uint32_t> riffSize_;
    std::vector<Part> parts_;
    std::optional<std::int64_t> sparseLength_;
    std::optional<std::uint32_t> dataSize_;
    std::optional<std::size_t> cutAt_;
    std::optional<std::array<std::int64_t, 3>> ds64Sizes_;
    int bytesPerFrame_ = 6;
};

}  // namespace keeptime::testing
