// The header reader over any bytes: signature checks, bit-packed stage rectangle, and the
// inflation of a compressed movie that may declare any length.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "swf/header_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qm::swf::TMemoryStream stream(std::vector<uint8_t>(data, data + size));
    qm::swf::TSWFStreamReader reader;
    try {
        reader.LoadFromStream(stream);
    } catch (const qm::swf::ESWFReadError&) {
        return 0;  // damaged compressed data is reported, never a crash
    }
    if (reader.IsValid) {
        volatile int facts = reader.Width() + reader.Height() + int(reader.FrameRate()) + reader.FrameCount;
        (void)facts;
    }
    return 0;
}
