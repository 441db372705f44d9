#pragma once
// The ASCII header of a `.raw` recording: "% key value" lines, then the event words.
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>

namespace sorvane {

enum class EventEncoding { Unknown, Evt2, Evt21, Evt3 };

// "EVT2.0", "EVT2.1", "EVT3.0"; empty for Unknown.
const char* encodingName(EventEncoding encoding);
// Bytes per word of the encoding (0 for Unknown).
size_t encodingWordSize(EventEncoding encoding);

struct RawHeader {
    EventEncoding encoding = EventEncoding::Unknown;
    int width = 1280;
    int height = 720;
    // EVT 2.1 with its two 32-bit halves swapped ("endianness=legacy").
    bool legacyEndianness = false;
    std::string serial;
    int64_t apsTimeOffset = 0;
    // Offset of the first event word.
    size_t dataOffset = 0;
    // Every key as found; a repeated key keeps its last value.
    std::map<std::string, std::string> keys;
};

// Parses the header at the start of bytes. bytes may hold the whole file or only its beginning:
// when it ends inside the header and complete is false, parsing fails with "header too long".
// False, with error set, when the header names no known event encoding.
bool parseRawHeader(std::span<const uint8_t> bytes, bool complete, RawHeader& header, std::string& error);

} // namespace sorvane
