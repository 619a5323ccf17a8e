#include "tests/WavWriter.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace keeptime::testing {

Bytes audioPattern(std::size_t length, std::uint32_t seed) {
    Bytes bytes(length);
    std::uint32_t state = seed * 2654435761u + 12345u;
    for (auto& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<std::uint8_t>(state);
    }
    return bytes;
}

Bytes fmtBody(int channels, int sampleRate, int bitsPerSample) {
    Bytes body(16);
    const int blockAlign = channels * ((bitsPerSample + 7) / 8);
    writeLE<std::uint16_t>(body, 0, 1);  // PCM
    writeLE<std::uint16_t>(body, 2, static_cast<std::uint16_t>(channels));
    writeLE<std::uint32_t>(body, 4, static_cast<std::uint32_t>(sampleRate));
    writeLE<std::uint32_t>(body, 8, static_cast<std::uint32_t>(sampleRate * blockAlign));
    writeLE<std::uint16_t>(body, 12, static_cast<std::uint16_t>(blockAlign));
    writeLE<std::uint16_t>(body, 14, static_cast<std::uint16_t>(bitsPerSample));
    return body;
}

Bytes bextBody(std::int64_t timeReference, const std::string& description) {
    Bytes body(602, 0);
    std::copy_n(description.begin(), std::min<std::size_t>(description.size(), 256), body.begin());
    const std::string originator = "Keeptime tests";
    std::copy(originator.begin(), originator.end(), body.begin() + 256);
    const std::string dateTime = "2026-12-0610:00:00";
    std::copy(dateTime.begin(), dateTime.end(), body.begin() + 320);
    writeLE<std::int64_t>(body, 338, timeReference);
    writeLE<std::uint16_t>(body, 346, 1);
    return body;
}

std::string ixmlText(const std::optional<std::string>& timestampLo,
                     const std::optional<std::string>& bwfLow, const std::string& note) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<BWFXML>\n"
                      "<IXML_VERSION>1.61</IXML_VERSION>\n";
    if (!note.empty()) xml += "<NOTE>" + note + "</NOTE>\n";
    if (bwfLow)
        xml += "<BWF_TIME_REFERENCE_LOW>" + *bwfLow +
               "</BWF_TIME_REFERENCE_LOW>\n<BWF_TIME_REFERENCE_HIGH>0</BWF_TIME_REFERENCE_HIGH>\n";
    if (timestampLo)
        xml += "<SPEED>\n<TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI>0</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI>\n"
               "<TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>" + *timestampLo +
               "</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>\n"
               "<TIMESTAMP_SAMPLE_RATE>48000</TIMESTAMP_SAMPLE_RATE>\n</SPEED>\n";
    return xml + "</BWFXML>\n";
}

WavWriter& WavWriter::fileId(std::string id) {
    fileId_ = std::move(id);
    return *this;
}

WavWriter& WavWriter::rf64() {
    rf64_ = true;
    fileId_ = "RF64";
    return *this;
}

WavWriter& WavWriter::riffSize(std::uint32_t size) {
    riffSize_ = size;
    return *this;
}

WavWriter& WavWriter::chunk(std::string id, Bytes body, std::optional<std::uint32_t> size,
                            bool padded) {
    parts_.push_back({std::move(id), std::move(body), size, padded});
    return *this;
}

WavWriter& WavWriter::chunk(std::string id, const std::string& body) {
    return chunk(std::move(id), Bytes(body.begin(), body.end()));
}

WavWriter& WavWriter::fmt(int channels, int sampleRate, int bitsPerSample) {
    bytesPerFrame_ = channels * ((bitsPerSample + 7) / 8);
    return chunk("fmt ", fmtBody(channels, sampleRate, bitsPerSample));
}

WavWriter& WavWriter::bext(std::int64_t timeReference, const std::string& description) {
    return chunk("bext", bextBody(timeReference, description));
}

WavWriter& WavWriter::ixml(const std::string& xml) { return chunk("iXML", xml); }

WavWriter& WavWriter::ds64() {
    parts_.push_back({"ds64", Bytes(28, 0), {}, true, false, true});
    return *this;
}

WavWriter& WavWriter::ds64Sizes(std::int64_t riff, std::int64_t data, std::int64_t samples) {
    ds64Sizes_ = std::array<std::int64_t, 3>{riff, data, samples};
    return *this;
}

WavWriter& WavWriter::data(Bytes audio) {
    parts_.push_back({"data", std::move(audio), {}, true, true, false});
    return *this;
}

WavWriter& WavWriter::sparseData(std::int64_t length) {
    sparseLength_ = length;
    parts_.push_back({"data", {}, {}, true, true, false});
    return *this;
}

WavWriter& WavWriter::dataSize(std::uint32_t size) {
    dataSize_ = size;
    return *this;
}

WavWriter& WavWriter::cutAt(std::size_t length) {
    cutAt_ = length;
    return *this;
}

std::int64_t WavWriter::audioLength() const {
    for (const auto& part : parts_)
        if (part.isData)
            return sparseLength_ ? *sparseLength_ : static_cast<std::int64_t>(part.body.size());
    return 0;
}

namespace {
std::int64_t bodyLength(std::int64_t size, bool padded) { return size + (padded ? (size & 1) : 0); }
}  // namespace

std::int64_t WavWriter::fileLength() const {
    std::int64_t length = 12;
    for (const auto& part : parts_) {
        const std::int64_t size =
            part.isData ? audioLength() : static_cast<std::int64_t>(part.body.size());
        length += 8 + bodyLength(size, part.padded);
    }
    return length;
}

std::size_t WavWriter::dataOffset() const {
    std::size_t offset = 12;
    for (const auto& part : parts_) {
        if (part.isData) return offset;
        offset += 8 + static_cast<std::size_t>(bodyLength(static_cast<std::int64_t>(part.body.size()), part.padded));
    }
    throw std::logic_error("no data chunk");
}

// Everything up to and including the data chunk header (or all of it without sparse data).
Bytes WavWriter::header(std::int64_t length) const {
    Bytes out(fileId_.begin(), fileId_.end());
    out.resize(4, ' ');
    const std::uint32_t computed =
        rf64_ ? 0xFFFFFFFFu : static_cast<std::uint32_t>(std::min<std::int64_t>(length - 8, 0xFFFFFFFF));
    out.resize(12);
    writeLE<std::uint32_t>(out, 4, riffSize_.value_or(computed));
    std::copy_n("WAVE", 4, out.begin() + 8);
    const std::int64_t audio = audioLength();
    for (const auto& part : parts_) {
        const std::size_t at = out.size();
        out.insert(out.end(), part.id.begin(), part.id.end());
        out.resize(at + 8);
        std::uint32_t size = static_cast<std::uint32_t>(part.body.size());
        if (part.isData) {
            size = rf64_ || audio > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<std::uint32_t>(audio);
            size = dataSize_.value_or(size);
        }
        writeLE<std::uint32_t>(out, at + 4, part.size.value_or(size));
        Bytes body = part.body;
        if (part.isDS64) {
            auto sizes = ds64Sizes_.value_or(
                std::array<std::int64_t, 3>{length - 8, audio, audio / bytesPerFrame_});
            writeLE<std::int64_t>(body, 0, sizes[0]);
            writeLE<std::int64_t>(body, 8, sizes[1]);
            writeLE<std::int64_t>(body, 16, sizes[2]);
        }
        if (part.isData && sparseLength_) return out;
        out.insert(out.end(), body.begin(), body.end());
        const std::size_t bodySize = part.isData ? static_cast<std::size_t>(audio) : body.size();
        if (part.padded && (bodySize & 1)) out.push_back(0);
    }
    return out;
}

Bytes WavWriter::build() const {
    if (sparseLength_) throw std::logic_error("sparse files are only written to disk");
    Bytes out = header(fileLength());
    if (cutAt_ && *cutAt_ < out.size()) out.resize(*cutAt_);
    return out;
}

void WavWriter::write(const std::filesystem::path& path) const {
    const std::int64_t length = fileLength();
    Bytes head = header(length);
    if (cutAt_ && *cutAt_ < head.size()) head.resize(*cutAt_);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
        if (!out) throw std::runtime_error("cannot write " + path.string());
    }
    if (sparseLength_) {
        const std::int64_t total =
            cutAt_ ? std::min<std::int64_t>(static_cast<std::int64_t>(*cutAt_), length) : length;
        std::filesystem::resize_file(path, static_cast<std::uintmax_t>(total));
    }
}

}  // namespace keeptime::testing
