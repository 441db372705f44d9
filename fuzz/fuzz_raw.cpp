// libFuzzer target: the header parser, the three decoders and the file reader with its seek index
// on arbitrary bytes. Beyond not crashing, the decoders must keep every event inside the sensor,
// give the same events however the input is split, and agree with the counting scan; the reader
// must hand out exactly the events it counts, whole and window by window, whatever the time
// order of the file.
#include "SorvaneDriver/DvsFileReader.h"
#include "SorvaneDriver/Raw/EventDecoders.h"
#include "SorvaneDriver/Raw/RawHeader.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using namespace sorvane;

namespace {

struct Decoded {
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
    DecoderState state;
};

Decoded decode(EventEncoding encoding, bool legacy, std::span<const uint8_t> bytes, const SensorGeometry& geometry,
               size_t piece, size_t capacity, uint64_t stopTime)
{
    Decoded out;
    std::vector<Event2D> buffer(capacity);
    const size_t word = encodingWordSize(encoding);
    size_t offset = 0;
    while (bytes.size() - offset >= word) {
        const size_t length = std::min(bytes.size() - offset, std::max(piece - piece % word, word));
        EventSink sink{buffer.data(), buffer.size(), 0, &out.triggers};
        const DecodeResult result = decodeEvents(encoding, legacy, bytes.subspan(offset, length), out.state, geometry,
                                                 stopTime, sink);
        out.events.insert(out.events.end(), buffer.begin(), buffer.begin() + ptrdiff_t(sink.count));
        offset += result.bytesUsed;
        if (result.reachedStop || (result.bytesUsed == 0 && sink.count == 0))
            break;
    }
    return out;
}

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

// The input as a recording file, read through the reader as the viewer and svraw read it.
void checkReader(std::span<const uint8_t> input, uint8_t windowChoice)
{
    const int fd = ::memfd_create("fuzz.raw", MFD_CLOEXEC);
    if (fd < 0)
        return;
    if (::write(fd, input.data(), input.size()) != ssize_t(input.size())) {
        ::close(fd);
        return;
    }
    auto reader = DvsFileReader::createFileReader("/proc/self/fd/" + std::to_string(fd));
    // Every input scanned: nothing from the user's cache.
    if (reader)
        reader->setIndexCaching(IndexCaching::Off);
    if (reader && reader->loadFile()) {
        DvsFileInfo info;
        check(reader->getFileInfo(info));
        uint64_t whole = 0;
        check(reader->readEvents(0, UINT64_MAX, [&](std::span<const Event2D> events) {
            for (const Event2D& e : events)
                check(e.timestamp >= info.firstTimestamp && e.timestamp <= info.lastTimestamp);
            whole += events.size();
            return true;
        }));
        check(whole == info.eventCount);
        check(reader->getTriggerEvents(0, UINT64_MAX).size() == info.triggerCount);
        if (info.eventCount > 0) {
            // At most a few hundred windows, whatever the span.
            const uint64_t span = info.lastTimestamp - info.firstTimestamp;
            const uint64_t step = span / (1 + windowChoice) + 1;
            uint64_t windowed = 0;
            check(reader->seekTime(info.firstTimestamp));
            while (auto events = reader->getNTimeEvents(step))
                windowed += events->size();
            check(windowed == info.eventCount);
        }
    }
    ::close(fd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> input(data, size);
    RawHeader header;
    std::string error;
    const bool parsed = parseRawHeader(input, true, header, error);
    if (parsed) {
        check(header.dataOffset <= size);
        check(header.width > 0 && header.width <= 2048 && header.height > 0 && header.height <= 2048);
    }
    RawHeader partial;
    parseRawHeader(input.first(size / 2), false, partial, error);

    // The words after a good header, else the whole input; the first bytes choose the sensor.
    const std::span<const uint8_t> words = parsed ? input.subspan(header.dataOffset) : input;
    SensorGeometry geometry{uint32_t(header.width), uint32_t(header.height)};
    if (!parsed && size >= 2)
        geometry = SensorGeometry{1u + data[0] * 8u, 1u + data[1] * 8u};
    const size_t piece = size >= 3 ? 2 + data[2] * 16 : 4096;
    const uint64_t stopTime = size >= 4 && data[3] < 64 ? uint64_t(data[3]) << 14 : UINT64_MAX;

    struct Variant {
        EventEncoding encoding;
        bool legacy;
    };
    for (const Variant variant : {Variant{EventEncoding::Evt3, false}, Variant{EventEncoding::Evt2, false},
                                  Variant{EventEncoding::Evt21, false}, Variant{EventEncoding::Evt21, true}}) {
        const Decoded whole = decode(variant.encoding, variant.legacy, words, geometry, SIZE_MAX, 4096, stopTime);
        for (const Event2D& e : whole.events)
            check(e.x < geometry.width && e.y < geometry.height && e.polarity <= 1);
        for (const EventTriggerIn& t : whole.triggers)
            check(t.polarity == 0 || t.polarity == 1);

        const Decoded pieces = decode(variant.encoding, variant.legacy, words, geometry, piece, 64, stopTime);
        check(pieces.events == whole.events);
        check(pieces.triggers == whole.triggers);
        check(pieces.state == whole.state);

        if (stopTime == UINT64_MAX) {
            ScanStats stats;
            DecoderState state;
            scanEvents(variant.encoding, variant.legacy, words, state, geometry, UINT64_MAX, stats, nullptr);
            check(stats.events == whole.events.size());
            check(stats.triggers == whole.triggers.size());
            check(state == whole.state);
            for (const Event2D& e : whole.events)
                check(e.timestamp <= stats.maxEventTime && e.timestamp >= stats.minTime);
        } else {
            for (const Event2D& e : whole.events)
                check(e.timestamp < stopTime);
        }
    }
    if (parsed)
        checkReader(input, size >= 5 ? data[4] : 0);
    return 0;
}
