#include "tests/WavWriter.hpp"

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace keeptime::testing {

Bytes audioPattern(std::size_t length, std::uint32_t seed) {
    Bytes bytes(length);
    std::uint32_t state = seed * 2654435761u + 12345u;
    for (auto& byte : bytes) {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        byte = static_cast<std::uint8_t>(state);
    }
    return bytes;
}

Bytes fmtBody(int channels, int sampleRate, int bitsPerSample) {
    Bytes body(16);
    const int blockAlign = channels * ((bitsPerSample + 7) / 8);
    writeLE<std::uint16_t>(body, 0, 1);  // PCM
    writeLE<std::uint16_t>(body, 2, static_cast<std::uint16_t>(channels));
    writeLE<std::int32_t>(body, 4, sampleRate);
    writeLE<std::int32_t>(body, 8, sampleRate * blockAlign);
    writeLE<std::uint16_t>(body, 12, static_cast<std::uint16_t>(blockAlign));
    writeLE<std::uint16_t>(body, 14, static_cast<std::uint16_t>(bitsPerSample));
    return body;
}

std::string ixmlText(const std::optional<std::string>& timestampLo,
                     const std::optional<std::string>& bwfLow, const std::string& note) {
    std::string xml = "<?xml version=\"1.0\"?>\n<BWFXML><IXML_VERSION>1.61</IXML_VERSION>";
    if (!note.empty()) xml += "<NOTE>" + note + "</NOTE>";
    if (bwfLow) xml += "<BWF_TIME_REFERENCE_LOW>" + *bwfLow + "</BWF_TIME_REFERENCE_LOW>";
    if (timestampLo)
        xml += "<SPEED><TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>" + *timestampLo +
               "</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO></SPEED>";
    return xml + "</BWFXML>\n";
}

WavWriter& WavWriter::fileId(std::string id) { return fileId_ = std::move(id), *this; }
WavWriter& WavWriter::rf64() { return rf64_ = true, fileId("RF64"); }
WavWriter& WavWriter::chunk(std::string id, Bytes body, std::optional<std::uint32_t> size) {
    return parts_.push_back({std::move(id), std::move(body), size}), *this;
}
WavWriter& WavWriter::chunk(std::string id, const std::string& text) {
    return chunk(std::move(id), Bytes(text.begin(), text.end()));
}
WavWriter& WavWriter::fmt(int channels, int sampleRate, int bitsPerSample) {
    bytesPerFrame_ = channels * ((bitsPerSample + 7) / 8);
    return chunk("fmt ", fmtBody(channels, sampleRate, bitsPerSample));
}
WavWriter& WavWriter::bext(std::int64_t timeReference, const std::string& description) {
    Bytes body(602, 0);
    std::copy_n(description.begin(), std::min<std::size_t>(description.size(), 256), body.begin());
    writeLE<std::int64_t>(body, 338, timeReference);
    return chunk("bext", std::move(body));
}
WavWriter& WavWriter::ds64() { return parts_.push_back({"ds64", Bytes(28), {}, false, true}), *this; }
WavWriter& WavWriter::ds64Sizes(std::int64_t riff, std::int64_t data, std::int64_t samples) {
    return ds64Sizes_ = {riff, data, samples}, *this;
}
WavWriter& WavWriter::data(Bytes audio) { return parts_.push_back({"data", std::move(audio), {}, true}), *this; }
WavWriter& WavWriter::sparseData(std::int64_t length) { return sparse_ = length, data({}); }
WavWriter& WavWriter::dataSize(std::uint32_t size) { return dataSize_ = size, *this; }
WavWriter& WavWriter::cutAt(std::size_t length) { return cutAt_ = length, *this; }

std::int64_t WavWriter::bodyLength(const Part& part) const {
    return part.isData && sparse_ ? *sparse_ : static_cast<std::int64_t>(part.body.size());
}

Bytes WavWriter::render() const {
    std::int64_t length = 12, audio = 0;
    for (const auto& part : parts_) {
        length += 8 + bodyLength(part) + (bodyLength(part) & 1);
        if (part.isData) audio = bodyLength(part);
    }
    Bytes out(fileId_.begin(), fileId_.end());
    auto put32 = [&](std::uint32_t value) {
        out.resize(out.size() + 4);
        writeLE(out, out.size() - 4, value);
    };
    const bool big = rf64_ || length - 8 > 0xFFFFFFFF;
    put32(big ? 0xFFFFFFFFu : static_cast<std::uint32_t>(length - 8));
    out.insert(out.end(), {'W', 'A', 'V', 'E'});
    for (const auto& part : parts_) {
        out.insert(out.end(), part.id.begin(), part.id.end());
        const bool unknownSize = part.isData && (rf64_ || audio > 0xFFFFFFFF);
        put32(part.size.value_or(part.isData ? dataSize_.value_or(unknownSize ? 0xFFFFFFFFu
                                                                         : static_cast<std::uint32_t>(audio))
                                             : static_cast<std::uint32_t>(part.body.size())));
        if (part.isData && sparse_) return out;
        const std::size_t at = out.size();
        out.insert(out.end(), part.body.begin(), part.body.end());
        if (part.isDS64) {
            const auto sizes = ds64Sizes_.value_or(std::array{length - 8, audio, audio / bytesPerFrame_});
            for (int i = 0; i < 3; ++i) writeLE(out, at + 8 * static_cast<std::size_t>(i), sizes[i]);
        }
        if (part.body.size() & 1) out.push_back(0);
    }
    return out;
}

Bytes WavWriter::build() const {
    if (sparse_) throw std::logic_error("sparse audio is only written to disk");
    Bytes out = render();
    out.resize(std::min(out.size(), cutAt_.value_or(out.size())));
    return out;
}

void WavWriter::write(const std::filesystem::path& path) const {
    Bytes head = render();
    head.resize(std::min(head.size(), cutAt_.value_or(head.size())));
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
    if (sparse_ && !cutAt_) std::filesystem::resize_file(path, head.size() + static_cast<std::uintmax_t>(*sparse_));
}

std::size_t WavWriter::dataOffset() const {
    std::size_t offset = 12;
    for (const auto& part : parts_) {
        if (part.isData) return offset;
        offset += 8 + part.body.size() + (part.body.size() & 1);
    }
    throw std::logic_error("no data chunk");
}

}  // namespace keeptime::testing
