#include "SorvaneDriver/Raw/RawFileReader.h"

#include "SorvaneBase/Logger.h"
#include "SorvaneDriver/Raw/RawEventWriter.h"
#include "SorvaneDriver/Video/VideoExport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace sorvane {

namespace {

constexpr size_t kBlockBytes = 1 << 20;
constexpr size_t kCheckpointBytes = 64 * 1024;
constexpr size_t kMaxHeaderBytes = 1 << 20;
constexpr size_t kScratchEvents = 64 * 1024;
// More trigger edges than this (24 MB) are decoded on demand instead of kept.
constexpr size_t kMaxKeptTriggers = 1 << 20;
// Events handed to the writer at a time when a cut re-encodes.
constexpr size_t kReencodeEvents = 1 << 20;
// The window estimate from the index is an upper bound; beyond this the buffer grows as it fills.
constexpr uint64_t kMaxReserveEvents = 1 << 24;

uint64_t saturatingAdd(uint64_t a, uint64_t b)
{
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

size_t readAt(int fd, uint64_t offset, uint8_t* into, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, into + done, size - done, off_t(offset + done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (got == 0)
            break;
        done += size_t(got);
    }
    return done;
}

std::string parentFolder(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

template <typename T>
void dropOutside(std::vector<T>& items, uint64_t start, uint64_t end)
{
    items.erase(std::remove_if(items.begin(), items.end(),
                               [&](const T& item) { return item.timestamp < start || item.timestamp > end; }),
                items.end());
}

} // namespace

std::unique_ptr<DvsFileReader> DvsFileReader::createFileReader(const std::string& path)
{
    return RawFileReader::open(path);
}

std::unique_ptr<RawFileReader> RawFileReader::open(const std::string& path)
{
    if (path.empty()) {
        SV_LOG_ERROR("no recording given");
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        SV_LOG_ERROR("cannot open %s: %s", path.c_str(), std::strerror(errno));
        return nullptr;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        SV_LOG_ERROR("%s is not a regular file", path.c_str());
        ::close(fd);
        return nullptr;
    }
    std::vector<uint8_t> start(std::min<uint64_t>(kMaxHeaderBytes, uint64_t(status.st_size)));
    const size_t got = readAt(fd, 0, start.data(), start.size());
    RawHeader header;
    std::string error;
    if (!parseRawHeader(std::span(start.data(), got), got == uint64_t(status.st_size), header, error)) {
        SV_LOG_ERROR("%s is not an event recording: %s", path.c_str(), error.c_str());
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<RawFileReader>(new RawFileReader(path, fd, std::move(header), uint64_t(status.st_size)));
}

RawFileReader::RawFileReader(std::string path_, int fd_, RawHeader header_, uint64_t fileSize_)
    : path(std::move(path_)), fd(fd_), rawHeader(std::move(header_)), fileSize(fileSize_)
{
    geometry = SensorGeometry{uint32_t(rawHeader.width), uint32_t(rawHeader.height)};
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
    size_t got = readAt(fd, rawHeader.dataOffset + offset, buffer.data(), want);
    got -= got % wordSize;
    bufferOffset = offset;
    bufferLength = got;
    if (got == 0) {
        SV_LOG_ERROR("cannot read %s at %llu: %s", path.c_str(), static_cast<unsigned long long>(offset),
                     errno ? std::strerror(errno) : "the file became shorter");
        return {};
    }
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
    index.clear();
    totals = ScanStats{};
    triggers.clear();
    triggersKept = true;
    lastProgressPercent = -1;
    bufferLength = 0;
    if (isCancelled())
        return false;

    struct stat status {};
    if (::fstat(fd, &status) == 0 && uint64_t(status.st_size) != fileSize) {
        fileSize = uint64_t(status.st_size);
        const uint64_t dataBytes = fileSize > rawHeader.dataOffset ? fileSize - rawHeader.dataOffset : 0;
        dataSize = dataBytes - dataBytes % wordSize;
    }

    DecoderState state;
    uint64_t offset = 0;
    reportProgress(0);
    while (offset < dataSize) {
        const std::span<const uint8_t> data = dataAt(offset);
        if (data.empty())
            break;
        const std::span<const uint8_t> chunk = data.first(std::min(data.size(), kCheckpointBytes));
        index.add(Checkpoint{offset, state, totals.events, totals.events + totals.triggers > 0 ? totals.maxTime : 0});
        scanEvents(rawHeader.encoding, rawHeader.legacyEndianness, chunk, state, geometry, UINT64_MAX, totals,
                   triggersKept ? &triggers : nullptr);
        if (triggersKept && triggers.size() > kMaxKeptTriggers) {
            triggers.clear();
            triggers.shrink_to_fit();
            triggersKept = false;
        }
        offset += chunk.size();
        if (offset % kBlockBytes == 0) {
            if (isCancelled()) {
                index.clear();
                SV_LOG_INFO("loading %s cancelled", path.c_str());
                return false;
            }
            reportProgress(double(offset) / double(dataSize));
        }
    }
    index.add(Checkpoint{offset, state, totals.events, totals.events + totals.triggers > 0 ? totals.maxTime : 0});
    dataSize = offset;

    firstEventTime = 0;
    if (totals.events > 0) {
        size_t first = 0;
        while (first + 1 < index.size() && index[first + 1].eventsBefore == 0)
            ++first;
        Cursor probe{index[first].offset, index[first].state};
        while (true) {
            const std::span<const uint8_t> data = dataAt(probe.offset);
            if (data.empty())
                break;
            EventSink sink{scratch.data(), scratch.size(), 0, nullptr};
            const DecodeResult result = decodeEvents(rawHeader.encoding, rawHeader.legacyEndianness, data,
                                                     probe.state, geometry, UINT64_MAX, sink);
            probe.offset += result.bytesUsed;
            if (sink.count > 0) {
                firstEventTime = scratch[0].timestamp;
                break;
            }
            if (result.bytesUsed == 0)
                break;
        }
    }

    // The scan's bounds may be a little wide; the last event comes from decoding the last
    // stretch that holds events.
    lastEventTime = 0;
    if (totals.events > 0) {
        size_t last = index.size() - 2;
        while (last > 0 && index[last + 1].eventsBefore == index[last].eventsBefore)
            --last;
        Cursor probe{index[last].offset, index[last].state};
        EventBuffer tail;
        while (probe.offset < index[last + 1].offset) {
            const std::span<const uint8_t> data = dataAt(probe.offset);
            if (data.empty())
                break;
            tail.resize(scratch.size());
            EventSink sink{tail.data(), tail.size(), 0, nullptr};
            const size_t length = size_t(std::min<uint64_t>(data.size(), index[last + 1].offset - probe.offset));
            const DecodeResult result = decodeEvents(rawHeader.encoding, rawHeader.legacyEndianness, data.first(length),
                                                     probe.state, geometry, UINT64_MAX, sink);
            probe.offset += result.bytesUsed;
            for (size_t i = 0; i < sink.count; ++i)
                lastEventTime = std::max(lastEventTime, tail[i].timestamp);
            if (result.bytesUsed == 0)
                break;
        }
    }

    cursor = Cursor{};
    positionTime = firstEventTime;
    loaded = true;
    reportProgress(1);
    SV_LOG_INFO("%s: %llu events, %llu trigger edges, index of %zu checkpoints", path.c_str(),
                static_cast<unsigned long long>(totals.events), static_cast<unsigned long long>(totals.triggers),
                index.size());
    return true;
}

bool RawFileReader::getStartTimestamp(uint64_t& timestamp)
{
    if (!loaded || totals.events == 0)
        return false;
    timestamp = firstEventTime;
    return true;
}

bool RawFileReader::getEndTimestamp(uint64_t& timestamp)
{
    if (!loaded || totals.events == 0)
        return false;
    timestamp = lastEventTime;
    return true;
}

RawFileReader::DecodeEnd RawFileReader::decodeUntil(Cursor& at, uint64_t stopTime, EventBuffer* events,
                                                    std::vector<EventTriggerIn>* edges, uint64_t expectedEvents,
                                                    size_t limit)
{
    // Room for a few dozen words more than expected; the buffer grows when a window holds more.
    const size_t perWord = maxEventsPerWord(rawHeader.encoding);
    const size_t minRoom = perWord * 64;
    size_t count = 0;
    if (events) {
        count = events->size();
        events->resize(count + size_t(std::min(expectedEvents, kMaxReserveEvents)) + minRoom);
    }
    DecodeEnd ending = DecodeEnd::DataEnd;
    while (true) {
        if (events && count >= limit) {
            ending = DecodeEnd::Limit;
            break;
        }
        const std::span<const uint8_t> data = dataAt(at.offset);
        if (data.empty())
            break;
        EventSink sink{scratch.data(), scratch.size(), 0, edges};
        if (events) {
            if (events->size() - count < minRoom)
                events->resize(std::max(events->size() + events->size() / 2, count + minRoom));
            size_t capacity = events->size();
            if (limit != SIZE_MAX)
                capacity = std::min(capacity, std::max(limit, count + perWord));
            sink = EventSink{events->data(), capacity, count, edges};
        }
        const DecodeResult result = decodeEvents(rawHeader.encoding, rawHeader.legacyEndianness, data, at.state,
                                                 geometry, stopTime, sink);
        at.offset += result.bytesUsed;
        if (events)
            count = sink.count;
        if (result.reachedStop) {
            ending = DecodeEnd::Stop;
            break;
        }
    }
    if (events)
        events->resize(count);
    return ending;
}

void RawFileReader::locate(uint64_t t, Cursor& at)
{
    const Checkpoint& checkpoint = index[index.checkpointFor(t)];
    at = Cursor{checkpoint.offset, checkpoint.state};
    decodeUntil(at, t, nullptr, nullptr);
}

bool RawFileReader::seekTime(uint64_t t)
{
    if (!loaded || totals.events == 0 || t > lastEventTime)
        return false;
    locate(t, cursor);
    positionTime = t;
    return true;
}

std::shared_ptr<EventBuffer> RawFileReader::getNTimeEvents(uint64_t duration)
{
    if (!loaded || totals.events == 0 || positionTime > lastEventTime)
        return nullptr;
    return getEventsByTime(positionTime, duration);
}

std::shared_ptr<EventBuffer> RawFileReader::getEventsByTime(uint64_t start, uint64_t duration)
{
    if (!loaded || totals.events == 0 || start > lastEventTime)
        return nullptr;
    if (start != positionTime)
        locate(start, cursor);
    const uint64_t stop = saturatingAdd(start, duration);
    auto events = std::make_shared<EventBuffer>();
    if (duration > 0) {
        const uint64_t expected = index.eventsBetween(index.checkpointFor(start), stop);
        decodeUntil(cursor, stop, events.get(), nullptr, expected);
        // Only a recording that goes back in time has earlier events after the cursor.
        if (std::any_of(events->begin(), events->end(), [start](const Event2D& e) { return e.timestamp < start; }))
            dropOutside(*events, start, stop - 1);
    }
    positionTime = stop;
    return events;
}

std::vector<EventTriggerIn> RawFileReader::getTriggerEvents(uint64_t start, uint64_t end)
{
    std::vector<EventTriggerIn> found;
    if (!loaded || start > end || totals.triggers == 0)
        return found;
    if (triggersKept) {
        for (const EventTriggerIn& trigger : triggers)
            if (trigger.timestamp >= start && trigger.timestamp <= end)
                found.push_back(trigger);
        return found;
    }
    Cursor at;
    locate(start, at);
    decodeUntil(at, saturatingAdd(end, 1), nullptr, &found);
    dropOutside(found, start, end);
    return found;
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
    if (loaded) {
        info.eventCount = totals.events;
        info.triggerCount = totals.triggers;
        if (totals.events > 0) {
            info.firstTimestamp = firstEventTime;
            info.lastTimestamp = lastEventTime;
        }
    }
    return true;
}

bool RawFileReader::copyEvt3Range(const Cursor& from, uint64_t start, uint64_t end, RawEventWriter& writer,
                                  bool& exact)
{
    exact = true;
    Cursor at = from;
    const uint64_t stop = saturatingAdd(end, 1);
    const uint64_t endOffset = index[std::min(index.size() - 1, index.checkpointFor(stop) + 1)].offset;
    ScanStats stats;
    while (true) {
        const std::span<const uint8_t> data = dataAt(at.offset);
        if (data.empty())
            break;
        const DecoderState before = at.state;
        const DecodeResult result = scanEvents(EventEncoding::Evt3, false, data, at.state, geometry, stop, stats, nullptr);
        if (stats.events + stats.triggers > 0 && stats.minTime < start) {
            exact = false;
            return true;
        }
        if (result.bytesUsed > 0 && !writer.writeEvt3Words(data.first(result.bytesUsed), before, at.state)) {
            exact = false;
            return true;
        }
        at.offset += result.bytesUsed;
        if (result.reachedStop)
            break;
        if (isCancelled())
            return false;
        if (endOffset > from.offset)
            reportProgress(double(at.offset - from.offset) / double(endOffset - from.offset));
    }
    return true;
}

bool RawFileReader::reencodeRange(const Cursor& from, uint64_t start, uint64_t end, RawEventWriter& writer)
{
    Cursor at = from;
    const uint64_t stop = saturatingAdd(end, 1);
    const uint64_t endOffset = index[std::min(index.size() - 1, index.checkpointFor(stop) + 1)].offset;
    EventBuffer events;
    std::vector<EventTriggerIn> edges;
    while (true) {
        events.clear();
        edges.clear();
        const DecodeEnd ending = decodeUntil(at, stop, &events, &edges, 0, kReencodeEvents);
        dropOutside(events, start, end);
        dropOutside(edges, start, end);
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
        if (!writer.write(next, last))
            return false;
        if (ending != DecodeEnd::Limit)
            break;
        if (isCancelled())
            return false;
        if (endOffset > from.offset)
            reportProgress(double(at.offset - from.offset) / double(endOffset - from.offset));
    }
    return true;
}

bool RawFileReader::exportEventData(uint64_t start, uint64_t end, const std::string& outPath)
{
    lastProgressPercent = -1;
    if (isCancelled())
        return false;
    if (start > end) {
        SV_LOG_ERROR("cannot cut %s: start %llu lies after end %llu", path.c_str(),
                     static_cast<unsigned long long>(start), static_cast<unsigned long long>(end));
        return false;
    }
    if (outPath.empty()) {
        SV_LOG_ERROR("cannot cut %s: no output file given", path.c_str());
        return false;
    }
    struct stat source {};
    struct stat target {};
    if (::fstat(fd, &source) == 0 && ::stat(outPath.c_str(), &target) == 0 && source.st_dev == target.st_dev
        && source.st_ino == target.st_ino) {
        SV_LOG_ERROR("cannot cut %s into itself", path.c_str());
        return false;
    }
    if (!loaded && !loadFile())
        return false;

    const std::string folder = parentFolder(outPath);
    std::string temporary = folder + "/." + baseName(outPath) + ".XXXXXX";
    const int temporaryFd = ::mkstemp(temporary.data());
    if (temporaryFd < 0) {
        SV_LOG_ERROR("cannot write into %s: %s", folder.c_str(), std::strerror(errno));
        return false;
    }
    ::fchmod(temporaryFd, 0644);
    ::close(temporaryFd);

    RawHeaderInfo info;
    info.width = rawHeader.width;
    info.height = rawHeader.height;
    info.serial = rawHeader.serial;
    for (const auto& [key, value] : rawHeader.keys)
        if (key != "evt" && key != "format" && key != "geometry" && key != "serial_number" && key != "date"
            && key != "Date")
            info.extraKeys[key] = value;

    RawEventWriter writer;
    bool ok = writer.open(temporary, info);
    const bool anything = totals.events + totals.triggers > 0 && start <= totals.maxTime;
    if (ok && anything) {
        Cursor from;
        locate(start, from);
        bool exact = false;
        if (rawHeader.encoding == EventEncoding::Evt3) {
            ok = copyEvt3Range(from, start, end, writer, exact);
            // A recording that goes back in time is re-encoded event by event.
            if (ok && !exact)
                ok = writer.open(temporary, info);
        }
        if (ok && !exact)
            ok = reencodeRange(from, start, end, writer);
    }
    ok = writer.close() && ok;
    if (ok && isCancelled())
        ok = false;
    if (ok && ::rename(temporary.c_str(), outPath.c_str()) != 0) {
        SV_LOG_ERROR("cannot write %s: %s", outPath.c_str(), std::strerror(errno));
        ok = false;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        SV_LOG_ERROR("cutting %s into %s failed", path.c_str(), outPath.c_str());
        return false;
    }
    reportProgress(1);
    return true;
}

bool RawFileReader::exportVideo(uint64_t start, uint64_t end, const std::string& outPath)
{
    lastProgressPercent = -1;
    if (isCancelled())
        return false;
    if (!loaded && !loadFile())
        return false;
    return exportEventVideo(*this, start, end, outPath, videoOptions, progress, cancelled);
}

void RawFileReader::setVideoExportOptions(const VideoExportOptions& options)
{
    videoOptions = options;
}

void RawFileReader::setProgressCallback(ProgressCallback callback)
{
    progress = std::move(callback);
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
