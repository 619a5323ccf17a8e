// The time reference: samples counted since midnight, at the file's own rate,
// or at that rate pulled up by 0.1 % when the recorder ran "weird" 48.048 kHz
// time code. It stands in bext's 64-bit TimeReference and as decimal text in
// iXML tag pairs; every one of these fields moves with a copy.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "riff/BWFFormat.hpp"
#include "base/Bytes.hpp"
#include "timecode/Clock.hpp"

namespace keeptime {

// Where a file's time reference was found.
enum class TimeReferenceSource {
    TimestampSamplesSinceMidnightLo,  // iXML <TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO> (and _HI)
    BWFTimeReferenceLow,              // iXML <BWF_TIME_REFERENCE_LOW> (and _HIGH)
    Bext,                             // the bext chunk's 64-bit TimeReference
    None,                             // none of them: taken as 0 and never rewritten
};

// The names scripts see ("TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO", ..., "bext", "none").
std::string_view sourceName(TimeReferenceSource source);

struct Stamp {
    std::int64_t value = 0;
    TimeReferenceSource source = TimeReferenceSource::None;
};

// The 64-bit count of the first tag pair of this kind in text: HI × 2^32 + LO
// when a readable HI tag is there, LO alone otherwise or when LO is 2^32 or
// more. A LO from -2^31 to -1 is a 32-bit field printed signed. Nothing when LO
// is missing or not a plain decimal number.
std::optional<std::int64_t> readStampTags(ByteView text, const layout::StampTags& tags);

// Moves every readable tag pair of both kinds in text, each from its own value,
// writing each text back in the form it was found in (HI carry, signed LO,
// leading zeros). Text that is not a plain number stays as it is.
Bytes moveStampTags(ByteView text, const StampMove& move);

// The text of the first <name>…</name> element in text, as written.
std::optional<std::string> ixmlValue(ByteView text, std::string_view name);
// The texts of every <name>…</name> element in text, in order, as written.
std::vector<std::string> ixmlValues(ByteView text, std::string_view name);
// An element's text as a person reads it: the five XML entities replaced, blanks
// around it dropped.
std::string ixmlPlain(std::string_view written);

// bext's TimeReference, when the body is long enough to hold one.
std::optional<std::int64_t> readBextStamp(ByteView body);
// Moves it; false when the body holds none.
bool moveBextStamp(Bytes& body, const StampMove& move);

// The file's stamp in order of preference: the first pair of each tag kind in
// any iXML text (in file order), then the first bext that holds one.
Stamp chooseStamp(std::span<const ByteView> ixmlTexts, std::span<const ByteView> bextBodies);

// R: TIMESTAMP_SAMPLE_RATE when the iXML gives a plain positive number, else the
// file's own sample rate. Weird-TC mode overrides it: the stamp counts 0.1 %
// fast, at the file's rate × 1001/1000.
StampRate stampRate(std::int32_t fileRate, const std::optional<std::string>& stampSampleRate, bool weirdTC);

}  // namespace keeptime
