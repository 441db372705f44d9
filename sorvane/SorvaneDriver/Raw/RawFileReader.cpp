#include "SorvaneDriver/Raw/RawFileReader.h"

#include "SorvaneBase/Logger.h"
#include "SorvaneBase/SafeOutput.h"
#include "SorvaneDriver/Raw/Evt3Encoder.h"
#include "SorvaneDriver/Raw/IndexCache.h"
#include "SorvaneDriver/Raw/RawEventWriter.h"
#include "SorvaneDriver/Raw/ReadAt.h"
#include "SorvaneDriver/VideoSupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace sorvane {

namespace {

constexpr size_t kBlockBytes = 1 << 20;
constexpr size_t kMaxHeaderBytes = 1 << 20;
constexpr size_t kScratchEvents = 64 * 1024;

uint64_t saturatingAdd(uint64_t a, uint64_t b)
{
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// Keeps the items of [start, stop) at the front, in order; returns how many.
template <typename T>
size_t keepInside(T* items, size_t count, uint64_t start, uint64_t stop)
{
    return size_t(std::remove_if(items, items + count,
                                 [&](const T& item) { return item.timestamp < start || item.timestamp >= stop; })
                  - items);
}

std::string number(uint64_t value)
{
    return std::to_string(value);
}

} // namespace

std::unique_ptr<DvsFileReader> DvsFileReader::createFileReader(const std::string& path)
{
    return RawFileReader::open(path);
}

std::unique_ptr<DvsFileReader> DvsFileReader::createFileReader(const std::string& path, std::string& error)
{
    return RawFileReader::open(path, error);
}

std::string rangeOutsideMessage(uint64_t start, uint64_t end, uint64_t first, uint64_t last)
{
    return "the range [" + number(start) + ", " + number(end) + "] lies outside the recording, which spans ["
        + number(first) + ", " + number(last) + "]";
}

std::unique_ptr<RawFileReader> RawFileReader::open(const std::string& path)
{
    std::string error;
    return open(path, error);
}

std::unique_ptr<RawFileReader> RawFileReader::open(const std::string& path, std::string& error)
{
    const auto refuse = [&](std::string message) -> std::unique_ptr<RawFileReader> {
        error = std::move(message);
        SV_LOG_ERROR("%s", error.c_str());
        return nullptr;
    };
    if (path.empty())
        return refuse("no recording given");
    // Without O_NONBLOCK, opening a FIFO would wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return refuse("cannot open " + path + ": " + std::strerror(errno));
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return refuse(path + " is not a regular file");
    }
    std::vector<uint8_t> start(std::min<uint64_t>(kMaxHeaderBytes, uint64_t(status.st_size)));
    int readError = 0;
    const size_t got = readAt(fd, 0, start.data(), start.size(), readError);
    if (readError != 0) {
        ::close(fd);
        return refuse("cannot read " + path + ": " + std::strerror(readError));
    }
    const std::span<const uint8_t> bytes(start.data(), got);
    const bool complete = got == uint64_t(status.st_size);
    RawHeader header;
    std::string problem;
    std::string extension = std::filesystem::path(path).extension().string();
    for (char& c : extension)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    const bool dat = extension == ".dat";
    const bool parsed = dat || looksLikeDat(bytes) ? parseDatHeader(bytes, complete, header, problem)
                                                   : parseRawHeader(bytes, complete, header, problem);
    if (!parsed) {
        ::close(fd);
        return refuse(path + " is not an event recording: " + problem);
    }
    return std::unique_ptr<RawFileReader>(new RawFileReader(path, fd, std::move(header), uint64_t(status.st_size)));
}

RawFileReader::RawFileReader(std::string path_, int fd_, RawHeader header_, uint64_t fileSize_)
    : path(std::move(path_)), fd(fd_), rawHeader(std::move(header_)), fileSize(fileSize_)
{
    geometry = SensorGeometry{uint32_t(rawHeader.width), uint32_t(rawHeader.height)};
    sizeFromEvents = rawHeader.geometrySource == GeometrySource::Events;
    wordSize = encodingWordSize(rawHeader.encoding);
    const uint64_t dataBytes = fileSize > rawHeader.dataOffset ? fileSize - rawHeader.dataOffset : 0;
    dataSize = dataBytes - dataBytes % wordSize;
    scratch.resize(kScratchEvents);
}

RawFileReader::~RawFileReader()
{
    if (fd >= 0)
        ::close(fd);
}

std::span<const uint8_t> RawFileReader::dataAt(uint64_t offset)
{
    if (offset >= dataSize)
        return {};
    if (offset >= bufferOffset && offset < bufferOffset + bufferLength)
        return std::span<const uint8_t>(buffer.data() + (offset - bufferOffset), bufferLength - size_t(offset - bufferOffset));
    buffer.resize(kBlockBytes);
    const size_t want = size_t(std::min<uint64_t>(kBlockBytes, dataSize - offset));
    int readError = 0;
    const size_t got = readAt(fd, rawHeader.dataOffset + offset, buffer.data(), want, readError);
    bufferOffset = offset;
    bufferLength = 0;
    if (got < want) {
        // Short of what the index holds: everything read from here on would be incomplete.
        readFailed = true;
        error = "cannot read " + path + " at byte " + number(rawHeader.dataOffset + offset) + ": "
            + (readError != 0 ? std::strerror(readError) : "the file became shorter while it was read");
        SV_LOG_ERROR("%s", error.c_str());
        return {};
    }
    bufferLength = got;
    return std::span<const uint8_t>(buffer.data(), got);
}

void RawFileReader::reportProgress(double fraction)
{
    const int percent = int(std::clamp(fraction, 0.0, 1.0) * 100);
    if (percent == lastProgressPercent)
        return;
    lastProgressPercent = percent;
    if (progress)
        progress(percent / 100.0);
}

bool RawFileReader::loadFile()
{
    loaded = false;
    recording = RecordingScan{};
    lastProgressPercent = -1;
    bufferLength = 0;
    readFailed = false;
    if (isCancelled())
        return false;

    FileIdentity identity;
    const bool identified = caching != IndexCaching::Off && identifyFile(fd, identity);
    struct stat status {};
    const uint64_t size = identified ? identity.size : ::fstat(fd, &status) == 0 ? uint64_t(status.st_size) : fileSize;
    if (size != fileSize) {
        fileSize = size;
        const uint64_t dataBytes = fileSize > rawHeader.dataOffset ? fileSize - rawHeader.dataOffset : 0;
        dataSize = dataBytes - dataBytes % wordSize;
    }

    if (sizeFromEvents) {
        rawHeader.width = rawHeader.height = kDatMaxSide;
        rawHeader.geometrySource = GeometrySource::Events;
        geometry = SensorGeometry{uint32_t(kDatMaxSide), uint32_t(kDatMaxSide)};
    }
    const IndexCache cache = indexCache ? *indexCache : IndexCache::standard();
    const bool cached = identified && caching == IndexCaching::Use && cache.load(identity, recording)
        && recording.dataEnd == dataSize;
    if (!cached) {
        reportProgress(0);
        std::string problem;
        if (!scanRecording(fd, rawHeader, dataSize, scanLayout, cancelled, [this](double f) { reportProgress(f); },
                           recording, problem)) {
            recording = RecordingScan{};
            if (problem.empty()) {
                SV_LOG_INFO("loading %s cancelled", path.c_str());
            } else {
                error = "cannot read " + path + " " + problem;
                SV_LOG_ERROR("%s", error.c_str());
            }
            return false;
        }
        dataSize = recording.dataEnd;
        findEventSpan();
        if (recording.totals.events > 0)
            recording.rateProfile = recording.index.eventsPerBin(recording.firstEventTime, recording.lastEventTime,
                                                                 kRateProfileBins);
        // A file that changed or failed to read while it was scanned is scanned again next time.
        FileIdentity after;
        if (identified && !readFailed && identifyFile(fd, after) && after == identity)
            cache.store(identity, recording);
    }

    takeSizeFromEvents();
    positionTime = recording.firstEventTime;
    loaded = true;
    reportProgress(1);
    const ScanStats& totals = recording.totals;
    SV_LOG_INFO("%s: %llu events, %llu trigger edges, index of %zu checkpoints%s", path.c_str(),
                static_cast<unsigned long long>(totals.events), static_cast<unsigned long long>(totals.triggers),
                recording.index.size(), cached ? " (kept from an earlier scan)" : "");
    if (totals.outside > 0)
        SV_LOG_INFO("%s: %llu events lay outside the %dx%d sensor the header declares", path.c_str(),
                    static_cast<unsigned long long>(totals.outside), rawHeader.width, rawHeader.height);
    if (totals.timeRepairs > 0)
        SV_LOG_INFO("%s: %llu damaged time words were ignored", path.c_str(),
                    static_cast<unsigned long long>(totals.timeRepairs));
    if (const uint64_t trailing = fileSize - rawHeader.dataOffset - dataSize; fileSize > rawHeader.dataOffset && trailing > 0)
        SV_LOG_INFO("%s: ends in %llu bytes of an event cut short, left out", path.c_str(),
                    static_cast<unsigned long long>(trailing));
    return true;
}

void RawFileReader::takeSizeFromEvents()
{
    if (!sizeFromEvents)
        return;
    if (recording.totals.events > 0) {
        rawHeader.width = int(recording.totals.maxX) + 1;
        rawHeader.height = int(recording.totals.maxY) + 1;
    } else {
        rawHeader.geometrySource = GeometrySource::Default;
        rawHeader.width = 1280;
        rawHeader.height = 720;
    }
    geometry = SensorGeometry{uint32_t(rawHeader.width), uint32_t(rawHeader.height)};
}

void RawFileReader::findEventSpan()
{
    recording.firstEventTime = 0;
    recording.lastEventTime = 0;
    if (recording.totals.events == 0)
        return;
    std::vector<size_t> stretches;
    for (size_t i = 0; i + 1 < recording.index.size(); ++i)
        if (recording.index[i + 1].eventsBefore > recording.index[i].eventsBefore)
            stretches.push_back(i);
    // Best candidates first; a stretch whose bound cannot beat what was found ends the search.
    const auto exactBound = [&](bool earliest) {
        std::sort(stretches.begin(), stretches.end(), [&](size_t a, size_t b) {
            return earliest ? recording.index[a].minTime < recording.index[b].minTime : recording.index[a].maxTime > recording.index[b].maxTime;
        });
        uint64_t found = earliest ? UINT64_MAX : 0;
        for (size_t i : stretches) {
            if (earliest ? recording.index[i].minTime > found : recording.index[i].maxTime < found)
                break;
            decodeSpan(Cursor{recording.index[i].offset, recording.index[i].state}, recording.index[i + 1].offset,
                       [&](std::span<const Event2D> events, std::span<const EventTriggerIn>) {
                           for (const Event2D& event : events)
                               found = earliest ? std::min(found, event.timestamp) : std::max(found, event.timestamp);
                           return true;
                       });
        }
        return found;
    };
    recording.firstEventTime = exactBound(true);
    recording.lastEventTime = exactBound(false);
}

bool RawFileReader::getStartTimestamp(uint64_t& timestamp)
{
    if (!loaded || recording.totals.events == 0)
        return false;
    timestamp = recording.firstEventTime;
    return true;
}

std::vector<uint64_t> RawFileReader::getEventRateProfile(size_t bins)
{
    if (!loaded || recording.totals.events == 0)
        return {};
    if (bins == recording.rateProfile.size())
        return recording.rateProfile;
    return recording.index.eventsPerBin(recording.firstEventTime, recording.lastEventTime, bins);
}

bool RawFileReader::getEndTimestamp(uint64_t& timestamp)
{
    if (!loaded || recording.totals.events == 0)
        return false;
    timestamp = recording.lastEventTime;
    return true;
}

bool RawFileReader::decodeSpan(Cursor at, uint64_t until, const BlockSink& sink)
{
    while (at.offset < until) {
        std::span<const uint8_t> data = dataAt(at.offset);
        if (data.empty())
            return false;
        data = data.first(size_t(std::min<uint64_t>(data.size(), until - at.offset)));
        scratchEdges.clear();
        EventSink events{scratch.data(), scratch.size(), 0, &scratchEdges};
        const DecodeResult result = decodeEvents(rawHeader.encoding, rawHeader.legacyEndianness, data, at.state,
                                                 geometry, UINT64_MAX, events);
        if (result.bytesUsed == 0)
            return false;
        at.offset += result.bytesUsed;
        if (!sink(std::span<const Event2D>(scratch.data(), events.count), scratchEdges))
            return false;
    }
    return true;
}

bool RawFileReader::forEachInRange(uint64_t start, uint64_t stop, const BlockSink& sink, bool withProgress)
{
    if (recording.index.size() < 2 || start >= stop)
        return true;
    const size_t first = recording.index.firstStretchFor(start);
    const size_t end = recording.index.endOfStretchesFor(stop);
    for (size_t i = first; i < end; ++i) {
        if (!recording.index.stretchMeets(i, start, stop))
            continue;
        if (isCancelled())
            return false;
        const bool inside = recording.index[i].minTime >= start && recording.index[i].maxTime < stop;
        const bool completed = decodeSpan(
            Cursor{recording.index[i].offset, recording.index[i].state}, recording.index[i + 1].offset,
            [&](std::span<const Event2D> events, std::span<const EventTriggerIn> edges) {
                if (inside && !region)
                    return sink(events, edges);
                // The blocks are decodeSpan's scratch buffers: kept items move to their front.
                Event2D* kept = scratch.data();
                size_t keptEvents = inside ? events.size() : keepInside(kept, events.size(), start, stop);
                if (region)
                    keptEvents = keepInRegion(kept, keptEvents, *region);
                const size_t keptEdges = inside ? edges.size() : keepInside(scratchEdges.data(), edges.size(), start, stop);
                return sink(std::span<const Event2D>(kept, keptEvents),
                            std::span<const EventTriggerIn>(scratchEdges.data(), keptEdges));
            });
        if (!completed)
            return false;
        if (withProgress && end > first)
            reportProgress(double(i + 1 - first) / double(end - first));
    }
    return true;
}

void RawFileReader::locate(uint64_t t, Cursor& at)
{
    const Checkpoint& checkpoint = recording.index[recording.index.checkpointFor(t)];
    at = Cursor{checkpoint.offset, checkpoint.state};
    while (true) {
        const std::span<const uint8_t> data = dataAt(at.offset);
        if (data.empty())
            return;
        EventSink sink{scratch.data(), scratch.size(), 0, nullptr};
        const DecodeResult result = decodeEvents(rawHeader.encoding, rawHeader.legacyEndianness, data, at.state,
                                                 geometry, t, sink);
        at.offset += result.bytesUsed;
        if (result.reachedStop || result.bytesUsed == 0)
            return;
    }
}

bool RawFileReader::seekTime(uint64_t t)
{
    if (!loaded || recording.totals.events == 0 || t > recording.lastEventTime)
        return false;
    positionTime = t;
    return true;
}

std::shared_ptr<EventBuffer> RawFileReader::getNTimeEvents(uint64_t duration)
{
    if (!loaded || recording.totals.events == 0 || positionTime > recording.lastEventTime)
        return nullptr;
    return getEventsByTime(positionTime, duration);
}

std::shared_ptr<EventBuffer> RawFileReader::getEventsByTime(uint64_t start, uint64_t duration)
{
    if (!loaded || recording.totals.events == 0 || start > recording.lastEventTime)
        return nullptr;
    const uint64_t stop = saturatingAdd(start, duration);
    auto events = std::make_shared<EventBuffer>();
    // Room for every event of the stretches that may hold the window, so that it never grows by
    // copying.
    const SeekIndex& index = recording.index;
    uint64_t most = 0;
    for (size_t i = index.firstStretchFor(start); i < index.endOfStretchesFor(stop) && most < kMaxWindowEvents; ++i)
        if (index.stretchMeets(i, start, stop))
            most += index[i + 1].eventsBefore - index[i].eventsBefore;
    events->reserve(size_t(std::min<uint64_t>(most, kMaxWindowEvents)));
    forEachInRange(start, stop, [&](std::span<const Event2D> block, std::span<const EventTriggerIn>) {
        const size_t taken = std::min(block.size(), kMaxWindowEvents - events->size());
        events->insert(events->end(), block.begin(), block.begin() + ptrdiff_t(taken));
        return events->size() < kMaxWindowEvents;
    });
    positionTime = stop;
    return events;
}

bool RawFileReader::readEvents(uint64_t start, uint64_t end, const EventBlockSink& sink)
{
    if (!loaded || recording.totals.events == 0)
        return !isCancelled();
    readFailed = false;
    const bool completed = forEachInRange(start, saturatingAdd(end, 1),
                                          [&](std::span<const Event2D> events, std::span<const EventTriggerIn>) {
                                              return events.empty() || sink(events);
                                          });
    return completed && !readFailed;
}

bool RawFileReader::readTriggerEvents(uint64_t start, uint64_t end, const TriggerBlockSink& sink)
{
    if (!loaded || start > end)
        return loaded;
    if (recording.totals.triggers == 0)
        return true;
    if (recording.triggersKept) {
        // Each run of kept edges inside the range, as it lies (file order, not always time order).
        const std::vector<EventTriggerIn>& kept = recording.triggers;
        const auto inside = [&](const EventTriggerIn& edge) { return edge.timestamp >= start && edge.timestamp <= end; };
        for (auto from = std::find_if(kept.begin(), kept.end(), inside); from != kept.end();) {
            const auto to = std::find_if_not(from, kept.end(), inside);
            if (!sink(std::span<const EventTriggerIn>(&*from, size_t(to - from))))
                return false;
            from = std::find_if(to, kept.end(), inside);
        }
        return true;
    }
    const bool completed = forEachInRange(start, saturatingAdd(end, 1),
                                          [&](std::span<const Event2D>, std::span<const EventTriggerIn> edges) {
                                              return edges.empty() || sink(edges);
                                          });
    return completed && !readFailed;
}

bool RawFileReader::getFileInfo(DvsFileInfo& info)
{
    info = DvsFileInfo{};
    info.encoding = encodingName(rawHeader.encoding);
    info.width = rawHeader.width;
    info.height = rawHeader.height;
    info.serial = rawHeader.serial;
    info.fileSize = fileSize;
    info.apsTimeOffset = rawHeader.apsTimeOffset;
    info.geometryFrom = rawHeader.geometrySource;
    if (loaded) {
        info.trailingBytes = fileSize > rawHeader.dataOffset ? fileSize - rawHeader.dataOffset - dataSize : 0;
        info.eventCount = recording.totals.events;
        info.triggerCount = recording.totals.triggers;
        info.eventsOutside = recording.totals.outside;
        info.timeRepairs = recording.totals.timeRepairs;
        if (recording.totals.events > 0) {
            info.firstTimestamp = recording.firstEventTime;
            info.lastTimestamp = recording.lastEventTime;
        }
    }
    return true;
}

bool RawFileReader::holdsAny(const Cursor& from, uint64_t until, uint64_t start, uint64_t end)
{
    bool any = false;
    decodeSpan(from, until, [&](std::span<const Event2D> events, std::span<const EventTriggerIn> edges) {
        const auto inRange = [&](const auto& item) { return item.timestamp >= start && item.timestamp <= end; };
        any = std::any_of(events.begin(), events.end(), inRange) || std::any_of(edges.begin(), edges.end(), inRange);
        return !any;
    });
    return any;
}

bool RawFileReader::copyEvt3Range(uint64_t start, uint64_t end, RawEventWriter& writer, bool& exact)
{
    exact = false;
    Cursor at;
    locate(start, at);
    const Cursor from = at;
    const uint64_t stop = saturatingAdd(end, 1);
    const size_t endStretch = recording.index.endOfStretchesFor(stop);
    const uint64_t endOffset = recording.index[endStretch].offset;
    ScanStats stats;
    // Vector groups that are not whole would read otherwise elsewhere: such words are re-encoded.
    Evt3GroupCheck groups(geometry.width, from.state.vectBase);
    while (true) {
        const std::span<const uint8_t> data = dataAt(at.offset);
        if (data.empty())
            break;
        const DecoderState before = at.state;
        const DecodeResult result = scanEvents(EventEncoding::Evt3, false, data, at.state, geometry, stop, stats, nullptr);
        // Something earlier than the range among the words: they cannot be taken as they are.
        if (stats.events + stats.triggers > 0 && stats.minTime < start)
            return true;
        if (!groups.whole(data.first(result.bytesUsed)))
            return true;
        if (result.bytesUsed > 0 && !writer.writeEvt3Words(data.first(result.bytesUsed), before, at.state))
            return true;
        at.offset += result.bytesUsed;
        if (result.reachedStop)
            break;
        if (isCancelled())
            return false;
        if (endOffset > from.offset)
            reportProgress(double(at.offset - from.offset) / double(endOffset - from.offset));
    }
    if (readFailed)
        return false;
    if (!groups.finished())
        return true;
    // The copy is the whole range only when nothing after it returns into the range: the rest of
    // the stretch it ended in, and any later stretch that may hold range times.
    const size_t stretch = recording.index.stretchHolding(at.offset);
    if (stretch + 1 < recording.index.size() && holdsAny(at, recording.index[stretch + 1].offset, start, end))
        return true;
    for (size_t i = stretch + 1; i < endStretch; ++i)
        if (recording.index.stretchMeets(i, start, stop) && holdsAny(Cursor{recording.index[i].offset, recording.index[i].state}, recording.index[i + 1].offset, start, end))
            return true;
    exact = !readFailed;
    return !readFailed;
}

bool RawFileReader::reencodeRange(uint64_t start, uint64_t end, RawEventWriter& writer)
{
    return forEachInRange(start, saturatingAdd(end, 1),
                          [&](std::span<const Event2D> events, std::span<const EventTriggerIn> edges) {
                              // Trigger edges go in between the events of their time.
                              const Event2D* next = events.data();
                              const Event2D* const last = events.data() + events.size();
                              for (const EventTriggerIn& edge : edges) {
                                  const Event2D* upTo = next;
                                  while (upTo < last && upTo->timestamp <= edge.timestamp)
                                      ++upTo;
                                  if (!writer.write(next, upTo) || !writer.writeTrigger(edge))
                                      return false;
                                  next = upTo;
                              }
                              return writer.write(next, last);
                          },
                          true);
}

bool RawFileReader::fail(std::string message)
{
    error = std::move(message);
    SV_LOG_ERROR("%s", error.c_str());
    return false;
}

bool RawFileReader::exportEventData(uint64_t start, uint64_t end, const std::string& outPath, ExistingFile existing)
{
    return writeRecording(start, end, outPath, existing, EventEncoding::Evt3, "cut");
}

bool RawFileReader::convertTo(const std::string& outPath, EventEncoding target, ExistingFile existing)
{
    if (target != EventEncoding::Evt3 && target != EventEncoding::Evt2) {
        error.clear();
        return fail("cannot convert " + path + ": only EVT 3.0 and EVT 2.0 are written");
    }
    return writeRecording(0, UINT64_MAX, outPath, existing, target, "convert");
}

bool RawFileReader::setRegion(const std::optional<EventRegion>& wanted, std::string& problem)
{
    if (wanted) {
        if (!loaded) {
            problem = "the region of " + path + " is set once it is loaded";
            return false;
        }
        problem = eventRegionProblem(*wanted, rawHeader.width, rawHeader.height);
        if (!problem.empty())
            return false;
    }
    region = wanted;
    return true;
}

bool RawFileReader::rangeWritable(uint64_t start, uint64_t end, const std::string& verb)
{
    lastProgressPercent = -1;
    error.clear();
    const std::string gerund = verb == "cut" ? "cutting" : "converting";
    if (isCancelled())
        return fail(gerund + " " + path + " was cancelled");
    if (start > end)
        return fail("cannot " + verb + " " + path + ": start " + number(start) + " lies after end " + number(end));
    if (!loaded && !loadFile())
        return fail("cannot " + verb + " " + path + ": it cannot be read");
    if (recording.totals.events == 0)
        return fail("cannot " + verb + " " + path + ": it holds no events");
    if (start > recording.lastEventTime || end < recording.firstEventTime)
        return fail("cannot " + verb + " " + path + ": " + rangeOutsideMessage(start, end, recording.firstEventTime, recording.lastEventTime));
    // Addresses of a .raw word are 11 bits wide.
    if (rawHeader.width > 2048 || rawHeader.height > 2048)
        return fail("cannot " + verb + " " + path + ": its " + number(uint64_t(rawHeader.width)) + "×"
                    + number(uint64_t(rawHeader.height)) + " sensor is larger than a .raw recording can address (2048×2048)");
    return true;
}

bool RawFileReader::writeRecording(uint64_t start, uint64_t end, const std::string& outPath, ExistingFile existing,
                                   EventEncoding target, const std::string& verb)
{
    if (!rangeWritable(start, end, verb))
        return false;
    SafeOutput output;
    std::string problem;
    if (!output.begin(outPath, existing, {path, fd}, problem))
        return fail("cannot " + verb + " " + path + ": " + problem);
    if (!writeInto(start, end, output, target, verb, {}))
        return false;
    if (!output.commit(problem))
        return fail(problem);
    reportProgress(1);
    return true;
}

bool RawFileReader::exportEventDataTo(uint64_t start, uint64_t end, SafeOutput& output,
                                      const std::map<std::string, std::string>& headerKeys)
{
    if (!rangeWritable(start, end, "cut"))
        return false;
    if (output.temporaryFd() < 0)
        return fail("cannot cut " + path + ": no output was begun");
    if (!writeInto(start, end, output, EventEncoding::Evt3, "cut", headerKeys))
        return false;
    reportProgress(1);
    return true;
}

bool RawFileReader::writeInto(uint64_t start, uint64_t end, SafeOutput& output, EventEncoding target,
                              const std::string& verb, const std::map<std::string, std::string>& headerKeys)
{
    const std::string gerund = verb == "cut" ? "cutting" : "converting";
    RawHeaderInfo info;
    info.encoding = target;
    info.width = rawHeader.width;
    info.height = rawHeader.height;
    info.serial = rawHeader.serial;
    // A .dat header's lines (Version, Width, ...) mean nothing in a .raw header.
    if (rawHeader.encoding != EventEncoding::Dat)
        for (const auto& [key, value] : rawHeader.keys)
            if (key != "evt" && key != "format" && key != "geometry" && key != "serial_number" && key != "date"
                && key != "Date" && key != "endianness")
                info.extraKeys[key] = value;
    for (const auto& [key, value] : headerKeys)
        info.extraKeys[key] = value;

    readFailed = false;
    RawEventWriter writer;
    bool ok = writer.attach(output.temporaryFd(), output.temporaryPath(), info);
    bool exact = false;
    if (ok && rawHeader.encoding == EventEncoding::Evt3 && target == EventEncoding::Evt3 && !region) {
        ok = copyEvt3Range(start, end, writer, exact);
        // A recording whose time does not run in order is re-encoded event by event.
        if (ok && !exact)
            ok = writer.restart();
    }
    if (ok && !exact)
        ok = reencodeRange(start, end, writer);
    ok = writer.close() && ok;
    if (readFailed)
        return fail("cannot " + verb + " " + path + ": " + error);
    if (isCancelled())
        return fail(gerund + " " + path + " was cancelled");
    if (!ok)
        return fail("cannot write " + output.finalPath());
    return true;
}

bool RawFileReader::exportVideo(uint64_t start, uint64_t end, const std::string& outPath, ExistingFile existing)
{
    lastProgressPercent = -1;
    error.clear();
    if (isCancelled())
        return fail("exporting " + path + " was cancelled");
    if (!loaded && !loadFile())
        return fail("cannot export " + path + ": it cannot be read");
    std::string problem;
    const VideoSupport* video = videoSupport(problem);
    if (!video)
        return fail("cannot export " + path + ": " + problem);
    SafeOutput output;
    if (!output.begin(outPath, existing, {path, fd}, problem))
        return fail("cannot export " + path + ": " + problem);
    readFailed = false;
    if (!video->exportEventVideo(*this, start, end, output.temporaryPath(), videoOptions, progress, cancelled, problem))
        return fail(problem.empty() ? "cannot export " + path : problem);
    if (readFailed)
        return fail("cannot export " + path + ": " + error);
    if (!output.commit(problem))
        return fail(problem);
    return true;
}

void RawFileReader::setVideoExportOptions(const VideoExportOptions& options)
{
    videoOptions = options;
}

void RawFileReader::setProgressCallback(ProgressCallback callback)
{
    progress = std::move(callback);
}

void RawFileReader::setIndexCaching(IndexCaching caching_)
{
    caching = caching_;
}

void RawFileReader::cancel()
{
    cancelled.store(true);
}

void RawFileReader::resetCancel()
{
    cancelled.store(false);
}

} // namespace sorvane
