#include "cli/PeaksCommand.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/BWFError.hpp"
#include "recording/BWFParser.hpp"
#include "io/OutputFile.hpp"
#include "audio/Peaks.hpp"
#include "cli/Output.hpp"

namespace keeptime::cli {

namespace {

constexpr std::int64_t kDefaultSamplesPerPixel = 256;
// The peaks are read and written a slice at a time, so that memory stays bounded
// however many pixels the file makes.
constexpr std::int64_t kSliceBytes = std::int64_t{256} << 20;
constexpr std::int64_t kSliceValues = std::int64_t{1} << 21;
constexpr std::size_t kFlushAt = 1 << 20;

// Text gathered and handed on in pieces of about a mebibyte.
class TextSink {
public:
    explicit TextSink(std::function<void(const std::string&)> write) : write_(std::move(write)) {}
    TextSink& operator<<(const char* text) { return text_ += text, flushIfFull(); }
    TextSink& operator<<(std::int64_t value) {
        char digits[24];
        text_.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
        return flushIfFull();
    }
    // Values as comma-separated numbers (after a comma unless first), shifted right by shift
    // bits, copied from a table of every 16-bit value's text a piece at a time.
    void numbers(const std::vector<std::int16_t>& values, int shift, bool& first) {
        static const auto table = [] {
            std::vector<std::array<char, 8>> texts(65536);  // ",-32768" and its length in the last byte
            for (int v = -32768; v <= 32767; ++v) {
                auto& text = texts[static_cast<std::uint16_t>(v)];
                text[0] = ',';
                text[7] = static_cast<char>(std::to_chars(text.data() + 1, text.data() + 7, v).ptr - text.data());
            }
            return texts;
        }();
        constexpr std::size_t kPiece = 1 << 16, kMostChars = 8;  // whole table entries are copied
        for (std::size_t from = 0; from < values.size(); from += kPiece) {
            const std::size_t to = std::min(values.size(), from + kPiece), at = text_.size();
            text_.resize(at + (to - from) * kMostChars);
            char* p = text_.data() + at;
            std::size_t i = from;
            if (first && i < to) {  // no comma before the first
                const auto& text = table[static_cast<std::uint16_t>(values[i++] >> shift)];
                std::memcpy(p, text.data() + 1, 7);
                p += text[7] - 1;
                first = false;
            }
            for (; i < to; ++i) {  // a copy of a fixed size, which needs no call
                const auto& text = table[static_cast<std::uint16_t>(values[i] >> shift)];
                std::memcpy(p, text.data(), 8);
                p += text[7];
            }
            text_.resize(static_cast<std::size_t>(p - text_.data()));
            flushIfFull();
        }
    }
    void flush() {
        if (!text_.empty()) write_(text_);
        text_.clear();
    }

private:
    TextSink& flushIfFull() {
        if (text_.size() >= kFlushAt) flush();
        return *this;
    }
    std::function<void(const std::string&)> write_;
    std::string text_;
};

// The header, then each pixel's min and max per channel, at the chosen bits.
void writeJson(const PcmReader& reader, std::int64_t perPixel, int bits, TextSink& out) {
    const int channels = reader.format().channels;
    const std::int64_t pixels = reader.frames() / perPixel + (reader.frames() % perPixel != 0);
    out << "{\"version\":2,\"channels\":" << channels << ",\"sample_rate\":" << reader.sampleRate()
        << ",\"samples_per_pixel\":" << perPixel << ",\"bits\":" << bits << ",\"length\":" << pixels
        << ",\"data\":[";
    // A pixel wider than the audio is the whole audio: read as such, so that no frame count nears the int64 limit.
    perPixel = std::clamp<std::int64_t>(perPixel, 1, std::max<std::int64_t>(1, reader.frames()));
    const std::int64_t slicePixels = std::max<std::int64_t>(
        1, std::min(kSliceBytes / reader.bytesPerFrame() / perPixel, kSliceValues / (2 * channels)));
    bool first = true;
    for (std::int64_t pixel = 0; pixel < pixels; pixel += slicePixels)
        out.numbers(PeakReader(reader, perPixel, pixel * perPixel, slicePixels * perPixel).run().values, bits == 8 ? 8 : 0, first);
    out << "]}\n";
    out.flush();
}

}  // namespace

int runPeaks(const PeaksOptions& options) {
    std::shared_ptr<const FileHandle> input;
    std::unique_ptr<BWFParser> parser;
    std::unique_ptr<PcmReader> reader;
    try {
        input = std::make_shared<const FileHandle>(FileHandle::openForReading(options.file));
        parser = std::make_unique<BWFParser>(*input);
        reader = std::make_unique<PcmReader>(input, *parser);
    } catch (const BWFError& error) {
        complain(error);
        return kRefused;
    }
    const std::int64_t perPixel =
        options.samplesPerPixel ? *options.samplesPerPixel
        : options.pixelsPerSecond ? std::max<std::int64_t>(1, reader->sampleRate() / *options.pixelsPerSecond)
                                  : kDefaultSamplesPerPixel;

    if (!options.output) {
        TextSink out([](const std::string& text) {
            // A closed pipe: stop reading; main() reports the failed write.
            if (!std::cout.write(text.data(), std::ssize(text))) throw BWFError(BWFError::Kind::Output, "");
        });
        try {
            writeJson(*reader, perPixel, options.bits, out);
        } catch (const BWFError& error) {
            if (!std::cout) return kCopyFailed;
            std::cout << std::endl;  // what was written is cut off; the status and the line say so
            complain(error);
            return kCopyFailed;
        }
        return kOk;
    }
    if (sameFile(*options.output, options.file)) {
        complain(options.output->string(), "is the recording itself; choose another file for the peaks");
        return kRefused;
    }
    std::unique_ptr<OutputFile> file;
    try {
        file = std::make_unique<OutputFile>(checkOutput(*options.output, true), true);
    } catch (const BWFError& error) {
        complain(error);
        return kRefused;
    }
    try {
        std::int64_t offset = 0;
        TextSink out([&](const std::string& text) {
            file->writeAt(offset, ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
            offset += std::ssize(text);
        });
        writeJson(*reader, perPixel, options.bits, out);
        file->commit([] { return true; });
    } catch (const BWFError& error) {  // the unfinished file is removed with its OutputFile
        complain(error);
        return kCopyFailed;
    }
    return kOk;
}

}  // namespace keeptime::cli
