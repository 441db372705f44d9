#pragma once
// The DvsFileReader of `.raw` recordings: reads blocks with pread (a file that shrinks under us
// gives short reads, not a crash), indexes it once, and decodes windows on demand from the
// nearest checkpoint. Memory: the index, one read block and the windows asked for.
#include "SorvaneDriver/DvsFileReader.h"
#include "SorvaneDriver/Raw/RawHeader.h"
#include "SorvaneDriver/Raw/SeekIndex.h"

#include <atomic>
#include <cstdint>
#include <span>

namespace sorvane {

class RawEventWriter;

class RawFileReader : public DvsFileReader {
public:
    // Null, with a log line, when path is not a recording in a known encoding.
    static std::unique_ptr<RawFileReader> open(const std::string& path);
    ~RawFileReader() override;

    bool loadFile() override;
    bool getStartTimestamp(uint64_t& timestamp) override;
    bool getEndTimestamp(uint64_t& timestamp) override;
    bool seekTime(uint64_t t) override;
    std::shared_ptr<EventBuffer> getNTimeEvents(uint64_t duration) override;
    std::shared_ptr<EventBuffer> getEventsByTime(uint64_t start, uint64_t duration) override;
    bool exportEventData(uint64_t start, uint64_t end, const std::string& path) override;
    bool exportVideo(uint64_t start, uint64_t end, const std::string& path) override;
    bool getFileInfo(DvsFileInfo& info) override;
    std::vector<EventTriggerIn> getTriggerEvents(uint64_t start, uint64_t end) override;
    void setVideoExportOptions(const VideoExportOptions& options) override;
    void setProgressCallback(ProgressCallback callback) override;
    void cancel() override;
    void resetCancel() override;

    const RawHeader& header() const { return rawHeader; }
    const SeekIndex& seekIndex() const { return index; }

private:
    RawFileReader(std::string path, int fd, RawHeader header, uint64_t fileSize);

    struct Cursor {
        uint64_t offset = 0;
        DecoderState state;
    };

    // Data bytes from offset on (at most a block), from the read buffer when it holds them.
    // Empty at the end of the data or on a read error.
    std::span<const uint8_t> dataAt(uint64_t offset);
    // Cursor before the first event or trigger word at or after t. Needs a loaded index.
    void locate(uint64_t t, Cursor& cursor);

    enum class DecodeEnd { Stop, DataEnd, Limit };
    // Decodes from cursor up to the first event or trigger word at or after stopTime, appending
    // events to events and trigger edges to edges (either may be null), or until events holds
    // limit. Advances cursor. expectedEvents sizes the buffer.
    DecodeEnd decodeUntil(Cursor& cursor, uint64_t stopTime, EventBuffer* events, std::vector<EventTriggerIn>* edges,
                          uint64_t expectedEvents = 0, size_t limit = SIZE_MAX);
    // The words of an EVT 3.0 recording from `from` up to the first one after end, as they are.
    // exact is false when that would not give exactly the events of [start, end] (a recording
    // that goes back in time); the caller then re-encodes.
    bool copyEvt3Range(const Cursor& from, uint64_t start, uint64_t end, RawEventWriter& writer, bool& exact);
    bool reencodeRange(const Cursor& from, uint64_t start, uint64_t end, RawEventWriter& writer);
    void reportProgress(double fraction);
    bool isCancelled() const { return cancelled.load(std::memory_order_relaxed); }

    std::string path;
    int fd = -1;
    RawHeader rawHeader;
    SensorGeometry geometry;
    size_t wordSize = 2;
    uint64_t fileSize = 0;
    uint64_t dataSize = 0;

    bool loaded = false;
    SeekIndex index;
    ScanStats totals;
    uint64_t firstEventTime = 0;
    uint64_t lastEventTime = 0;
    // Trigger edges in file order, kept while there are few enough; else decoded on demand.
    std::vector<EventTriggerIn> triggers;
    bool triggersKept = false;

    Cursor cursor;
    uint64_t positionTime = 0;

    std::vector<uint8_t> buffer;
    uint64_t bufferOffset = 0;
    size_t bufferLength = 0;
    std::vector<Event2D> scratch;

    VideoExportOptions videoOptions;
    ProgressCallback progress;
    int lastProgressPercent = -1;
    std::atomic<bool> cancelled{false};
};

} // namespace sorvane
