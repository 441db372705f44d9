#include "SorvaneDriver/Raw/RawHeader.h"

#include <charconv>
#include <optional>
#include <string_view>
#include <vector>

namespace sorvane {

namespace {

// Addresses are 11 bits wide in every encoding.
constexpr int kMaxSensorSide = 2048;

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

std::optional<int64_t> parseInt(std::string_view text)
{
    text = trim(text);
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool validSide(std::optional<int64_t> value)
{
    return value && *value > 0 && *value <= kMaxSensorSide;
}

std::vector<std::string_view> split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    size_t begin = 0;
    while (begin <= text.size()) {
        const size_t end = std::min(text.find(separator, begin), text.size());
        parts.push_back(trim(text.substr(begin, end - begin)));
        begin = end + 1;
    }
    return parts;
}

EventEncoding encodingFromName(std::string_view name)
{
    if (name == "EVT3" || name == "EVT3.0" || name == "3.0" || name == "3")
        return EventEncoding::Evt3;
    if (name == "EVT21" || name == "EVT2.1" || name == "2.1")
        return EventEncoding::Evt21;
    if (name == "EVT2" || name == "EVT2.0" || name == "2.0" || name == "2")
        return EventEncoding::Evt2;
    return EventEncoding::Unknown;
}

} // namespace

const char* encodingName(EventEncoding encoding)
{
    switch (encoding) {
    case EventEncoding::Evt2: return "EVT2.0";
    case EventEncoding::Evt21: return "EVT2.1";
    case EventEncoding::Evt3: return "EVT3.0";
    case EventEncoding::Dat: return "DAT";
    case EventEncoding::Unknown: break;
    }
    return "";
}

size_t encodingWordSize(EventEncoding encoding)
{
    switch (encoding) {
    case EventEncoding::Evt2: return 4;
    case EventEncoding::Evt21: return 8;
    case EventEncoding::Evt3: return 2;
    case EventEncoding::Dat: return 8;
    case EventEncoding::Unknown: break;
    }
    return 0;
}

bool parseRawHeader(std::span<const uint8_t> bytes, bool complete, RawHeader& header, std::string& error)
{
    header = RawHeader{};
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());

    size_t position = 0;
    bool ended = false;
    while (position < text.size() && !ended) {
        if (text.size() - position < 2 || text[position] != '%' || text[position + 1] != ' ')
            break;
        const size_t newline = text.find('\n', position);
        if (newline == std::string_view::npos && !complete) {
            error = "header too long";
            return false;
        }
        const size_t lineEnd = newline == std::string_view::npos ? text.size() : newline;
        const std::string_view line = trim(text.substr(position + 2, lineEnd - position - 2));
        position = newline == std::string_view::npos ? text.size() : newline + 1;

        if (line == "end") {
            ended = true;
            continue;
        }
        const size_t space = line.find_first_of(" \t");
        const std::string_view key = line.substr(0, space);
        const std::string_view value = space == std::string_view::npos ? std::string_view() : trim(line.substr(space));
        if (!key.empty())
            header.keys[std::string(key)] = std::string(value);
    }
    if (!ended && position >= text.size() && !complete) {
        error = "header too long";
        return false;
    }
    header.dataOffset = position;

    const auto key = [&](const char* name) -> const std::string* {
        const auto it = header.keys.find(name);
        return it == header.keys.end() ? nullptr : &it->second;
    };

    std::optional<int64_t> width;
    std::optional<int64_t> height;
    bool hasEndianness = false;
    if (const std::string* format = key("format")) {
        const auto parts = split(*format, ';');
        header.encoding = encodingFromName(parts.front());
        for (size_t i = 1; i < parts.size(); ++i) {
            const size_t equals = parts[i].find('=');
            if (equals == std::string_view::npos)
                continue;
            const std::string_view name = trim(parts[i].substr(0, equals));
            const std::string_view value = trim(parts[i].substr(equals + 1));
            if (name == "width")
                width = parseInt(value);
            else if (name == "height")
                height = parseInt(value);
            else if (name == "endianness") {
                header.legacyEndianness = value == "legacy";
                hasEndianness = true;
            }
        }
        if (header.encoding == EventEncoding::Unknown) {
            error = "unsupported event format '" + std::string(parts.front()) + "'";
            return false;
        }
    } else if (const std::string* evt = key("evt")) {
        header.encoding = encodingFromName(trim(*evt));
        if (header.encoding == EventEncoding::Unknown) {
            error = "unsupported event encoding '" + *evt + "'";
            return false;
        }
    } else {
        error = "the header names no event encoding";
        return false;
    }
    // A format key without endianness leaves it to a line of its own.
    if (const std::string* endianness = key("endianness"); endianness && !hasEndianness)
        header.legacyEndianness = trim(*endianness) == "legacy";
    if (header.encoding != EventEncoding::Evt21)
        header.legacyEndianness = false;

    if (!validSide(width) || !validSide(height)) {
        width.reset();
        height.reset();
        if (const std::string* geometry = key("geometry")) {
            const size_t cross = geometry->find('x');
            if (cross != std::string::npos) {
                width = parseInt(std::string_view(*geometry).substr(0, cross));
                height = parseInt(std::string_view(*geometry).substr(cross + 1));
            }
        }
    }
    if (!validSide(width) || !validSide(height)) {
        width = 1280;
        height = 720;
        const std::string* plugin = key("plugin_name");
        if (!plugin)
            header.geometrySource = GeometrySource::Default;
        if (plugin) {
            if (plugin->find("gen41") == std::string::npos && plugin->find("gen3") != std::string::npos) {
                width = 640;
                height = 480;
            }
        }
    }
    header.width = int(*width);
    header.height = int(*height);

    if (const std::string* serial = key("serial_number"))
        header.serial = *serial;
    if (const std::string* offset = key("apsTimeOffset"))
        header.apsTimeOffset = parseInt(*offset).value_or(0);
    return true;
}

namespace {

constexpr uint8_t kDatChangeEvents = 0;
constexpr uint8_t kDatRecordBytes = 8;

// End of the '%' lines at the start of text; npos when they run to its end.
size_t datHeaderEnd(std::string_view text)
{
    size_t position = 0;
    while (position < text.size() && text[position] == '%') {
        const size_t newline = text.find('\n', position);
        if (newline == std::string_view::npos)
            return std::string_view::npos;
        position = newline + 1;
    }
    return position < text.size() ? position : std::string_view::npos;
}

} // namespace

bool looksLikeDat(std::span<const uint8_t> bytes)
{
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const size_t end = datHeaderEnd(text);
    return end != std::string_view::npos && end > 0 && end + 2 <= text.size()
        && uint8_t(text[end]) == kDatChangeEvents && uint8_t(text[end + 1]) == kDatRecordBytes;
}

bool parseDatHeader(std::span<const uint8_t> bytes, bool complete, RawHeader& header, std::string& error)
{
    header = RawHeader{};
    header.encoding = EventEncoding::Dat;
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const size_t end = datHeaderEnd(text);
    if (end == std::string_view::npos || end + 2 > text.size()) {
        error = complete ? "the header has no end (the file holds nothing after it)" : "header too long";
        return false;
    }
    for (size_t position = 0; position < end;) {
        const size_t newline = text.find('\n', position);
        const std::string_view line = trim(text.substr(position + 1, newline - position - 1));
        position = newline + 1;
        const size_t space = line.find_first_of(" \t");
        const std::string_view key = line.substr(0, space);
        if (!key.empty())
            header.keys[std::string(key)] = space == std::string_view::npos ? std::string() : std::string(trim(line.substr(space)));
    }
    const uint8_t type = uint8_t(text[end]);
    const uint8_t size = uint8_t(text[end + 1]);
    if (type != kDatChangeEvents || size != kDatRecordBytes) {
        error = "it holds events of type " + std::to_string(type) + " and size " + std::to_string(size)
            + ", where change events of type 0 and size 8 are known";
        return false;
    }
    header.dataOffset = end + 2;

    const auto key = [&](const char* name) -> std::optional<std::string_view> {
        const auto it = header.keys.find(name);
        return it == header.keys.end() ? std::nullopt : std::optional<std::string_view>(it->second);
    };
    const auto datSide = [](std::optional<int64_t> side) { return side && *side > 0 && *side <= kDatMaxSide; };
    std::optional<int64_t> width;
    std::optional<int64_t> height;
    if (key("Width") && key("Height")) {
        width = parseInt(*key("Width"));
        height = parseInt(*key("Height"));
    }
    if ((!datSide(width) || !datSide(height)) && key("geometry")) {
        const std::string_view geometry = *key("geometry");
        const size_t cross = geometry.find('x');
        if (cross != std::string_view::npos) {
            width = parseInt(geometry.substr(0, cross));
            height = parseInt(geometry.substr(cross + 1));
        }
    }
    if (datSide(width) && datSide(height)) {
        header.width = int(*width);
        header.height = int(*height);
    } else {
        // Every address is inside until the events have told the size.
        header.geometrySource = GeometrySource::Events;
        header.width = kDatMaxSide;
        header.height = kDatMaxSide;
    }
    if (const auto serial = key("serial_number"))
        header.serial = std::string(*serial);
    return true;
}

} // namespace sorvane
