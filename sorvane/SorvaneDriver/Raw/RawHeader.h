#pragma once
// The ASCII header of a recording: "% key value" lines, then the event words (`.raw`), or the
// event type and size bytes, then fixed 8-byte records (`.dat`).
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>

namespace sorvane {

// Dat: the 8-byte records of a `.dat` file (32-bit time, then x, y and polarity).
enum class EventEncoding { Unknown, Evt2, Evt21, Evt3, Dat };

// Where the sensor size came from: a `.dat` file need not state it.
enum class GeometrySource { Header, Events, Default };

// Largest sensor side a `.dat` record can address (14-bit coordinates).
inline constexpr int kDatMaxSide = 1 << 14;

// "EVT2.0", "EVT2.1", "EVT3.0", "DAT"; empty for Unknown.
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
    // Dat with GeometrySource::Events: width and height are kDatMaxSide until the reader has
    // seen the events.
    GeometrySource geometrySource = GeometrySource::Header;
    // Every key as found; a repeated key keeps its last value.
    std::map<std::string, std::string> keys;
};

// Parses the header at the start of bytes. bytes may hold the whole file or only its beginning:
// when it ends inside the header and complete is false, parsing fails with "header too long".
// False, with error set, when the header names no known event encoding.
bool parseRawHeader(std::span<const uint8_t> bytes, bool complete, RawHeader& header, std::string& error);

// The same for a `.dat` file: lines starting with '%', then the event type and size bytes. False,
// with error set, when the header has no end, or names events other than 8-byte change events.
bool parseDatHeader(std::span<const uint8_t> bytes, bool complete, RawHeader& header, std::string& error);
// Whether bytes (a file's start) look like a `.dat` file: header lines, then change events of 8
// bytes. For files whose name does not say.
bool looksLikeDat(std::span<const uint8_t> bytes);

} // namespace sorvane
