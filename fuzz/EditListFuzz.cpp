// Arbitrary text read as a CMX 3600 EDL and as OpenTimelineIO JSON: each is
// read or refused with a BWFError, never a crash, and every event read names
// its source range as two time-of-day labels.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/BWFError.hpp"
#include "edits/EditList.hpp"

using namespace keeptime;

namespace {

// "HH:MM:SS:FF"; an OTIO clip counted at a high whole rate has more digits of frames.
bool isLabel(const std::string& text) {
    if (text.size() < 11) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (i % 3 == 2 && i < 9 ? text[i] != ':' : text[i] < '0' || text[i] > '9') return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (bool json : {false, true}) {
        try {
            const EditList list = json ? readOTIO(text) : readCMX3600(text);
            for (const EditEvent& event : list.events)
                if (!isLabel(event.sourceIn) || !isLabel(event.sourceOut)) std::abort();
        } catch (const BWFError&) {
            // Refused, with its reason.
        }
    }
    return 0;
}
