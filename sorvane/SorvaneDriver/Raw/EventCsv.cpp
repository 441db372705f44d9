#include "SorvaneDriver/Raw/EventCsv.h"

#include <array>
#include <charconv>
#include <cstring>

namespace sorvane {

namespace {

// Coordinates below this come from the table; sensors are narrower.
constexpr uint32_t kTabled = 4096;

// "123," in the first bytes, its length in the last.
using Field = std::array<char, 8>;

const std::array<Field, kTabled>& fieldTable()
{
    static const std::array<Field, kTabled> table = [] {
        std::array<Field, kTabled> fields {};
        for (uint32_t value = 0; value < kTabled; ++value) {
            Field& field = fields[value];
            char* end = std::to_chars(field.data(), field.data() + 7, value).ptr;
            *end++ = ',';
            field[7] = char(end - field.data());
        }
        return fields;
    }();
    return table;
}

inline char* putField(char* out, uint32_t value, const std::array<Field, kTabled>& table)
{
    if (value < kTabled) [[likely]] {
        std::memcpy(out, table[value].data(), 8);
        return out + table[value][7];
    }
    out = std::to_chars(out, out + 6, value).ptr;
    *out = ',';
    return out + 1;
}

} // namespace

char* EventCsvFormatter::format(std::span<const Event2D> events, char* out)
{
    const std::array<Field, kTabled>& table = fieldTable();
    for (const Event2D& event : events) {
        out = putField(out, event.x, table);
        out = putField(out, event.y, table);
        out = putField(out, event.polarity, table);
        if (event.timestamp != lastTime) {
            lastTime = event.timestamp;
            char* end = std::to_chars(timeText, timeText + 20, lastTime).ptr;
            *end++ = '\n';
            timeLength = size_t(end - timeText);
        }
        std::memcpy(out, timeText, sizeof timeText);
        out += timeLength;
    }
    return out;
}

} // namespace sorvane
