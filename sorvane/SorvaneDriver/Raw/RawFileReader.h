#pragma once
// The DvsFileReader of `.raw` and `.dat` recordings: reads blocks with pread (a file that shrinks under us
// is a read error, not a crash), indexes it once (on every core, and keeps the index in the user's
// cache for the next open), and decodes windows on demand from the stretches of the index that
// hold them. Memory: the index, one read block, a block of events and the windows asked for
// (capped).
#include "SorvaneDriver/DvsFileReader.h"
#include "SorvaneDriver/Raw/IndexCache.h"
#include "SorvaneDriver/Raw/IndexScan.h"
#include "SorvaneDriver/Raw/RawHeader.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>

namespace sorvane {

class RawEventWriter;

class RawFileReader : public DvsFileReader {
public:
    // Null, with a log line, when path is not a recording in a known encoding.
    static std::unique_ptr<RawFileReader> open(const std::string& path);
    static std::unique_ptr<RawFileReader> open(const std::string& path, std::string& error);
    ~RawFileReader() override;

    bool loadFile() override;
    bool getStartTimestamp(uint64_t& timestamp) override;
    bool getEndTimestamp(uint64_t& timestamp) override;
    bool seekTime(uint64_t t) override;
    std::shared_ptr<EventBuffer> getNTimeEvents(uint64_t duration) override;
    std::shared_ptr<EventBuffer> getEventsByTime(uint64_t start, uint64_t duration) override;
    bool exportEventData(uint64_t start, uint64_t end, const std::string& path, ExistingFile existing) override;
    bool exportEventDataTo(uint64_t start, uint64_t end, SafeOutput& output,
                           const std::map<std::string, std::string>& headerKeys) override;
    bool exportVideo(uint64_t start, uint64_t end, const std::string& path, ExistingFile existing) override;
    bool readEvents(uint64_t start, uint64_t end, const EventBlockSink& sink) override;
    bool getFileInfo(DvsFileInfo& info) override;
    bool setRegion(const std::optional<EventRegion>& region, std::string& error) override;
    bool convertTo(const std::string& path, EventEncoding encoding, ExistingFile existing) override;
    std::string lastError() const override { return error; }
    std::vector<uint64_t> getEventRateProfile(size_t bins) override;
    bool readTriggerEvents(uint64_t start, uint64_t end, const TriggerBlockSink& sink) override;
    void setVideoExportOptions(const VideoExportOptions& options) override;
    void setProgressCallback(ProgressCallback callback) override;
    void cancel() override;
    void resetCancel() override;
    void setIndexCaching(IndexCaching caching) override;

    // Where the index is kept instead of the user's cache folder.
    void setIndexCache(const IndexCache& cache) { indexCache = cache; }
    // How the first scan is spread over threads.
    void setScanLayout(const ScanLayout& layout) { scanLayout = layout; }

    const RawHeader& header() const { return rawHeader; }
    const SeekIndex& seekIndex() const { return recording.index; }

private:
    RawFileReader(std::string path, int fd, RawHeader header, uint64_t fileSize);

    struct Cursor {
        uint64_t offset = 0;
        DecoderState state;
    };
    // A block of decoded events and the trigger edges among them.
    using BlockSink = std::function<bool(std::span<const Event2D> events, std::span<const EventTriggerIn> edges)>;

    // Data bytes from offset on (at most a block), from the read buffer when it holds them.
    // Empty at the end of the data or on a read error (then readFailed is set).
    std::span<const uint8_t> dataAt(uint64_t offset);
    // Decodes from cursor up to byte offset until, handing each block to sink. False on a read
    // error or when sink says stop.
    bool decodeSpan(Cursor at, uint64_t until, const BlockSink& sink);
    // The events and trigger edges of [start, stop), from every stretch that may hold them, in
    // file order. False when cancelled, on a read error or when sink says stop.
    bool forEachInRange(uint64_t start, uint64_t stop, const BlockSink& sink, bool withProgress = false);
    // Cursor before the first event or trigger word at or after t. Needs a loaded index.
    void locate(uint64_t t, Cursor& cursor);
    // Exact first and last event times (the index keeps bounds that may be a little wide).
    void findEventSpan();
    // Whether decoding from `from` to byte offset `until` meets an event or edge of [start, end].
    bool holdsAny(const Cursor& from, uint64_t until, uint64_t start, uint64_t end);
    // The words of an EVT 3.0 recording from the first one of [start, end] on, as they are.
    // exact is false when that would not give exactly the events of [start, end] (a recording
    // whose time does not run in order); the caller then re-encodes.
    bool copyEvt3Range(uint64_t start, uint64_t end, RawEventWriter& writer, bool& exact);
    bool reencodeRange(uint64_t start, uint64_t end, RawEventWriter& writer);
    // A cut (verb "cut") or conversion ("convert") of [start, end] into outPath.
    bool writeRecording(uint64_t start, uint64_t end, const std::string& outPath, ExistingFile existing,
                        EventEncoding target, const std::string& verb);
    // Whether [start, end] can be cut or converted; false after saying why.
    bool rangeWritable(uint64_t start, uint64_t end, const std::string& verb);
    // The events of [start, end] into output's temporary, left uncommitted.
    bool writeInto(uint64_t start, uint64_t end, SafeOutput& output, EventEncoding target, const std::string& verb,
                   const std::map<std::string, std::string>& headerKeys);
    // Sets the sensor size of a `.dat` file that does not state it from what the scan saw.
    void takeSizeFromEvents();
    bool fail(std::string message);
    void reportProgress(double fraction);
    bool isCancelled() const { return cancelled.load(std::memory_order_relaxed); }

    std::string path;
    int fd = -1;
    RawHeader rawHeader;
    SensorGeometry geometry;
    // A `.dat` file without its size: every address is scanned as inside, then the size is the
    // largest one seen.
    bool sizeFromEvents = false;
    std::optional<EventRegion> region;
    size_t wordSize = 2;
    uint64_t fileSize = 0;
    uint64_t dataSize = 0;

    bool loaded = false;
    // The index, counts and, while there are few enough, trigger edges (else decoded on demand).
    RecordingScan recording;
    IndexCaching caching = IndexCaching::Use;
    std::optional<IndexCache> indexCache; // unset: the user's cache folder
    ScanLayout scanLayout;

    uint64_t positionTime = 0;

    std::vector<uint8_t> buffer;
    uint64_t bufferOffset = 0;
    size_t bufferLength = 0;
    std::vector<Event2D> scratch;
    std::vector<EventTriggerIn> scratchEdges;
    bool readFailed = false;
    std::string error;

    VideoExportOptions videoOptions;
    ProgressCallback progress;
    int lastProgressPercent = -1;
    std::atomic<bool> cancelled{false};
};

} // namespace sorvane
