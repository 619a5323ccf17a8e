// Test files: a fresh folder per test, whole-file reads and writes, and RIFF and RF64 files built from parts
// (chunks in any order, bext and iXML bodies, ds64, wrong sizes, files cut short, sparse multi-gigabyte audio).
#pragma once

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/Bytes.hpp"

namespace keeptime::testing {

struct TempDir {  // removed afterwards
    explicit TempDir(const std::filesystem::path& parent = std::filesystem::temp_directory_path())
        : path_((parent / "keeptime-test-XXXXXX").string()) {
        if (!::mkdtemp(path_.data())) throw std::runtime_error("no temporary folder");
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    TempDir(const TempDir&) = delete;
    std::filesystem::path operator/(const std::string& name) const { return path() / name; }
    std::filesystem::path path() const { return path_; }
    std::string path_;
};

inline Bytes readFile(const std::filesystem::path& path) {
    return Bytes(std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {});
}
inline void writeFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::ssize(bytes));
}
inline std::vector<std::string> fileNames(const std::filesystem::path& folder) {  // sorted
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    return std::sort(names.begin(), names.end()), names;
}

// Deterministic, non-repeating bytes: a copy that shifts or drops one shows.
inline Bytes audioPattern(std::size_t length, std::uint32_t seed = 1) {
    Bytes bytes(length);
    std::uint32_t s = seed * 2654435761u + 12345u;
    for (auto& byte : bytes) s ^= s << 13, s ^= s >> 17, s ^= s << 5, byte = std::uint8_t(s);
    return bytes;
}

// Bodies of cue chunks: the parts joined, 32-bit little-endian fields, points and their count.
inline Bytes cat(const std::vector<Bytes>& parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}
inline Bytes u32(std::size_t v) {
    return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
}
inline Bytes point(std::uint32_t id, std::uint32_t position, std::uint32_t offset, std::string_view chunk = "data") {
    return cat({u32(id), u32(position), Bytes(chunk.begin(), chunk.end()), u32(0), u32(0), u32(offset)});
}
inline Bytes cue(const std::vector<Bytes>& points, std::optional<std::uint32_t> count = {}) {
    return cat({u32(count.value_or(points.size())), cat(points)});
}

// tag 1: integer PCM, 3: float; extensible: the same tag as the WAVE_FORMAT_EXTENSIBLE sub-format.
inline Bytes fmtBody(int channels, int rate, int bits, std::uint16_t tag = 1, bool extensible = false) {
    Bytes body(extensible ? 40 : 16);
    const int align = channels * ((bits + 7) / 8);
    writeLE<std::uint16_t>(body, 0, extensible ? 0xFFFE : tag), writeLE(body, 2, std::uint16_t(channels));
    writeLE(body, 4, rate), writeLE(body, 8, rate * align), writeLE(body, 12, std::uint16_t(align));
    writeLE(body, 14, std::uint16_t(bits));
    if (extensible) writeLE<std::uint16_t>(body, 16, 22), writeLE(body, 18, std::uint16_t(bits)), writeLE(body, 24, tag);
    return body;
}

// iXML carrying the given tag texts; an absent one is left out.
inline std::string ixmlText(const std::optional<std::string>& lo, const std::optional<std::string>& low,
                            const std::string& note = "") {
    std::string xml = "<?xml version=\"1.0\"?>\n<BWFXML><IXML_VERSION>1.61</IXML_VERSION>";
    if (!note.empty()) xml += "<NOTE>" + note + "</NOTE>";
    if (low) xml += "<BWF_TIME_REFERENCE_LOW>" + *low + "</BWF_TIME_REFERENCE_LOW>";
    const std::string tag = "TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>";
    if (lo) xml += "<SPEED><" + tag + *lo + "</" + tag + "</SPEED>";
    return xml + "</BWFXML>\n";
}

// iXML of one file of a take: its FILE_SET, and its stamp in TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO.
inline std::string takeIXML(const std::string& uid, const std::string& total, const std::string& index, std::int64_t stamp) {
    return "<?xml version=\"1.0\"?>\n<BWFXML><FILE_SET><TOTAL_FILES>" + total + "</TOTAL_FILES><FAMILY_UID>" + uid +
           "</FAMILY_UID><FILE_SET_INDEX>" + index + "</FILE_SET_INDEX></FILE_SET><SPEED><TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>" +
           std::to_string(stamp) + "</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO></SPEED></BWFXML>\n";
}

class WavWriter {
public:
    WavWriter& fileId(std::string id) { return fileId_ = std::move(id), *this; }
    WavWriter& rf64() { return rf64_ = true, fileId("RF64"); }  // 0xFFFFFFFF sizes; add ds64() for the real ones
    WavWriter& chunk(std::string id, Bytes body, std::optional<std::uint32_t> size = {}, char kind = 0) {
        return parts_.push_back({std::move(id), std::move(body), size, kind}), *this;
    }
    WavWriter& chunk(std::string id, const std::string& text) { return chunk(id, Bytes(text.begin(), text.end())); }
    WavWriter& ixml(const std::string& xml) { return chunk("iXML", xml); }
    WavWriter& fmt(int channels = 2, int rate = 48000, int bits = 24, std::uint16_t tag = 1, bool extensible = false) {
        return frameBytes_ = channels * ((bits + 7) / 8), chunk("fmt ", fmtBody(channels, rate, bits, tag, extensible));
    }
    WavWriter& bext(std::int64_t timeReference, const std::string& description = "") {
        Bytes body(602, 0);
        std::copy_n(description.begin(), std::min<std::size_t>(description.size(), 256), body.begin());
        return writeLE(body, 338, timeReference), chunk("bext", body);
    }
    WavWriter& ds64() { return chunk("ds64", Bytes(28), {}, '6'); }  // sizes from the file unless ds64Sizes()
    WavWriter& ds64Sizes(std::int64_t riff, std::int64_t data, std::int64_t frames) {
        return ds64Sizes_ = {riff, data, frames}, *this;
    }
    WavWriter& data(Bytes audio) { return chunk("data", std::move(audio), {}, 'd'); }
    WavWriter& sparseData(std::int64_t length) { return sparse_ = length, data({}); }  // zeros, written as a hole
    WavWriter& dataSize(std::uint32_t size) { return dataSize_ = size, *this; }  // instead of the true one
    WavWriter& cutAt(std::size_t length) { return cutAt_ = length, *this; }      // the file ends here

    Bytes build() const { return render(); }  // sparse audio: up to the data chunk header only
    void write(const std::filesystem::path& path) const {
        const Bytes head = render();
        writeFile(path, head);
        if (sparse_ && !cutAt_) std::filesystem::resize_file(path, head.size() + std::uintmax_t(*sparse_));
    }
    std::size_t dataOffset() const {  // of the data chunk ID
        std::size_t offset = 12;
        for (const auto& part : parts_) {
            if (part.kind == 'd') return offset;
            offset += 8 + part.body.size() + (part.body.size() & 1);
        }
        throw std::logic_error("no data chunk");
    }

private:
    struct Part { std::string id; Bytes body; std::optional<std::uint32_t> size; char kind; };  // 'd' data, '6' ds64
    std::int64_t length(const Part& p) const { return p.kind == 'd' && sparse_ ? *sparse_ : std::ssize(p.body); }
    Bytes render() const {  // sparse audio: up to the data chunk header only
        std::int64_t total = 12, audio = 0;
        for (const auto& part : parts_) {
            total += 8 + length(part) + (length(part) & 1);
            if (part.kind == 'd') audio = length(part);
        }
        Bytes out(fileId_.begin(), fileId_.end());
        auto put32 = [&](std::uint32_t value) { out.resize(out.size() + 4), writeLE(out, out.size() - 4, value); };
        put32(rf64_ || total - 8 > 0xFFFFFFFF ? 0xFFFFFFFFu : std::uint32_t(total - 8));
        out.insert(out.end(), {'W', 'A', 'V', 'E'});
        for (const auto& part : parts_) {
            out.insert(out.end(), part.id.begin(), part.id.end());
            const bool unknown = rf64_ || audio > 0xFFFFFFFF;
            put32(part.size.value_or(part.kind != 'd' ? std::uint32_t(part.body.size())
                                     : dataSize_.value_or(unknown ? 0xFFFFFFFFu : std::uint32_t(audio))));
            if (part.kind == 'd' && sparse_) break;
            const std::size_t at = out.size();
            out.insert(out.end(), part.body.begin(), part.body.end());
            const auto sizes = ds64Sizes_.value_or(std::array{total - 8, audio, audio / frameBytes_});
            for (std::size_t i = 0; i < 3 && part.kind == '6'; ++i) writeLE(out, at + 8 * i, sizes[i]);
            if (part.body.size() & 1) out.push_back(0);
        }
        out.resize(std::min(out.size(), cutAt_.value_or(out.size())));
        return out;
    }

    std::string fileId_ = "RIFF";
    bool rf64_ = false;
    int frameBytes_ = 6;
    std::vector<Part> parts_;
    std::optional<std::int64_t> sparse_;
    std::optional<std::uint32_t> dataSize_;
    std::optional<std::size_t> cutAt_;
    std::optional<std::array<std::int64_t, 3>> ds64Sizes_;
};

}  // namespace keeptime::testing
