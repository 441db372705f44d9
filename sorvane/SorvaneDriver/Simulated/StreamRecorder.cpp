#include "SorvaneDriver/Simulated/StreamRecorder.h"

#include "SorvaneBase/Logger.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <signal.h>
#include <unistd.h>

namespace sorvane {

namespace {

constexpr uint32_t CacheRecordMagic = 0x31435653; // "SVC1"
constexpr uint64_t SegmentSpanUs = 1000000;
constexpr uint32_t DeltaEscape = 511;

struct CacheRecordHeader {
    uint32_t magic = CacheRecordMagic;
    uint32_t eventCount = 0;
    uint32_t wordCount = 0;
    uint32_t triggerCount = 0;
    uint64_t begin = 0;
    uint64_t end = 0;
};

struct CachedTrigger {
    int16_t id = 0;
    int16_t polarity = 0;
    uint32_t reserved = 0;
    uint64_t timestamp = 0;
};

std::atomic<uint64_t> cacheInstanceCounter{0};

// Cache files of processes that ended without cleaning up (a crash, a kill): named
// ".sv_cache_<serial>_<pid>_<instance>_<segment>.bin".
void removeStaleCacheFiles(const std::string& folder)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(".sv_cache_", 0) != 0 || name.size() < 5 || name.compare(name.size() - 4, 4, ".bin") != 0)
            continue;
        // The pid is the third number from the end.
        std::vector<std::string> parts;
        size_t end = name.size() - 4;
        for (int i = 0; i < 3; ++i) {
            const size_t cut = name.rfind('_', end - 1);
            if (cut == std::string::npos || cut + 1 >= end)
                break;
            parts.push_back(name.substr(cut + 1, end - cut - 1));
            end = cut;
        }
        if (parts.size() != 3 || parts[2].find_first_not_of("0123456789") != std::string::npos)
            continue;
        const long pid = std::strtol(parts[2].c_str(), nullptr, 10);
        if (pid > 0 && pid != long(::getpid()) && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            std::filesystem::remove(entry.path(), error);
    }
}

} // namespace

StreamRecorder::StreamRecorder(std::string tag_)
    : tag(std::move(tag_))
{
    for (char& c : tag)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_'))
            c = '_';
    tag += "_" + std::to_string(::getpid()) + "_" + std::to_string(cacheInstanceCounter.fetch_add(1));
    thread = std::thread([this] { run(); });
}

StreamRecorder::~StreamRecorder()
{
    if (recording.load())
        stop();
    {
        std::lock_guard lock(queueMutex);
        quit = true;
    }
    queueChanged.notify_all();
    thread.join();
    dropCache();
}

void StreamRecorder::enqueue(Item item)
{
    {
        std::lock_guard lock(queueMutex);
        queue.push_back(std::move(item));
    }
    queueChanged.notify_one();
}

void StreamRecorder::push(ChunkPtr chunk)
{
    if (chunk && wantsChunks())
        enqueue(std::move(chunk));
}

bool StreamRecorder::setCache(uint16_t seconds, const std::string& folder)
{
    std::lock_guard control(controlMutex);
    if (seconds > 0) {
        const std::string probe = folder + "/.sv_cache_probe_" + tag;
        std::FILE* file = std::fopen(probe.c_str(), "wb");
        if (!file) {
            SV_LOG_ERROR("record cache folder %s is not writable: %s", folder.c_str(), std::strerror(errno));
            return false;
        }
        std::fclose(file);
        std::remove(probe.c_str());
        removeStaleCacheFiles(folder);
    }
    caching.store(seconds > 0);
    enqueue(CacheCommand{seconds, folder});
    return true;
}

bool StreamRecorder::start(const std::string& path, const RawHeaderInfo& header, bool mirror,
                           std::optional<uint64_t> from)
{
    std::lock_guard control(controlMutex);
    if (recording.load()) {
        SV_LOG_ERROR("already recording; %s not started", path.c_str());
        return false;
    }
    auto fileWriter = std::make_shared<RawEventWriter>();
    if (!fileWriter->open(path, header))
        return false;
    writtenEvents.store(0);
    recording.store(true);
    enqueue(StartCommand{std::move(fileWriter), mirror, header.width, from});
    return true;
}

bool StreamRecorder::stop()
{
    std::lock_guard control(controlMutex);
    if (!recording.load())
        return false;
    auto done = std::make_shared<std::promise<bool>>();
    auto result = done->get_future();
    enqueue(StopCommand{done});
    const bool ok = result.get();
    recording.store(false);
    return ok;
}

void StreamRecorder::run()
{
    for (;;) {
        Item item;
        {
            std::unique_lock lock(queueMutex);
            queueChanged.wait(lock, [this] { return quit || !queue.empty(); });
            if (queue.empty())
                return; // quit, and everything pushed has been handled
            item = std::move(queue.front());
            queue.pop_front();
        }
        if (auto* chunk = std::get_if<ChunkPtr>(&item))
            handleChunk(**chunk);
        else if (auto* start = std::get_if<StartCommand>(&item))
            handleStart(*start);
        else if (auto* stopCommand = std::get_if<StopCommand>(&item))
            handleStop(*stopCommand);
        else if (auto* cache = std::get_if<CacheCommand>(&item))
            handleCache(*cache);
    }
}

void StreamRecorder::record(const Event2D* events, size_t eventCount, const EventTriggerIn* triggers,
                            size_t triggerCount, uint64_t from)
{
    if (!writer || writeFailed)
        return;
    const Event2D* e = std::lower_bound(events, events + eventCount, from,
                                        [](const Event2D& a, uint64_t t) { return a.timestamp < t; });
    const Event2D* eventsEnd = events + eventCount;
    const EventTriggerIn* tr = triggers;
    const EventTriggerIn* triggersEnd = triggers + triggerCount;
    while (tr != triggersEnd && tr->timestamp < from)
        ++tr;

    auto writeEvents = [&](const Event2D* begin, const Event2D* end) {
        if (begin == end)
            return true;
        if (!mirrorX)
            return writer->write(begin, end);
        eventScratch.assign(begin, end);
        for (Event2D& m : eventScratch)
            m.x = uint16_t(std::max(0, mirrorWidth - 1 - int(m.x)));
        return writer->write(eventScratch.data(), eventScratch.data() + eventScratch.size());
    };

    bool ok = true;
    const size_t total = size_t(eventsEnd - e);
    while (ok && (e != eventsEnd || tr != triggersEnd)) {
        if (tr == triggersEnd) {
            ok = writeEvents(e, eventsEnd);
            e = eventsEnd;
            break;
        }
        // Events up to the trigger's time, then the trigger.
        const Event2D* upTo = std::upper_bound(e, eventsEnd, tr->timestamp,
                                               [](uint64_t t, const Event2D& a) { return t < a.timestamp; });
        ok = writeEvents(e, upTo) && writer->writeTrigger(*tr);
        e = upTo;
        ++tr;
    }
    if (!ok) {
        writeFailed = true;
        SV_LOG_ERROR("recording stopped writing: the file cannot take more data");
        return;
    }
    writtenEvents.fetch_add(total);
}

void StreamRecorder::handleChunk(const StreamChunk& chunk)
{
    if (writer)
        record(chunk.events.data(), chunk.events.size(), chunk.triggers.data(), chunk.triggers.size(), 0);
    if (cacheSeconds > 0)
        appendToCache(chunk);
    lastEnd = std::max(lastEnd, chunk.end);
}

void StreamRecorder::handleStart(StartCommand& command)
{
    writer = std::move(command.writer);
    mirrorX = command.mirrorX;
    mirrorWidth = command.width;
    writeFailed = false;
    if (cacheSeconds == 0 || segments.empty())
        return;
    if (segmentFile)
        std::fflush(segmentFile);
    const uint64_t span = uint64_t(cacheSeconds) * 1000000;
    const uint64_t from = command.from.value_or(lastEnd > span ? lastEnd - span : 0);
    for (const Segment& segment : segments) {
        if (segment.end <= from)
            continue;
        if (!replaySegment(segment, from))
            SV_LOG_ERROR("record cache %s unreadable; the recording starts later", segment.path.c_str());
    }
}

bool StreamRecorder::replaySegment(const Segment& segment, uint64_t from)
{
    std::FILE* file = std::fopen(segment.path.c_str(), "rb");
    if (!file)
        return false;
    bool ok = true;
    std::vector<EventTriggerIn> triggers;
    for (;;) {
        CacheRecordHeader header;
        const size_t got = std::fread(&header, sizeof header, 1, file);
        if (got != 1)
            break;
        if (header.magic != CacheRecordMagic || header.wordCount < header.eventCount) {
            ok = false;
            break;
        }
        packScratch.resize(header.wordCount);
        std::vector<CachedTrigger> cached(header.triggerCount);
        if ((header.wordCount && std::fread(packScratch.data(), 4, header.wordCount, file) != header.wordCount)
            || (header.triggerCount
                && std::fread(cached.data(), sizeof(CachedTrigger), header.triggerCount, file) != header.triggerCount)) {
            ok = false;
            break;
        }
        std::vector<Event2D> events;
        events.reserve(header.eventCount);
        uint64_t t = header.begin;
        for (size_t w = 0; w < packScratch.size() && events.size() < header.eventCount; ++w) {
            const uint32_t word = packScratch[w];
            uint64_t delta = word >> 23;
            if (delta == DeltaEscape) {
                if (w + 1 >= packScratch.size()) {
                    ok = false;
                    break;
                }
                delta = packScratch[++w];
            }
            t += delta;
            events.emplace_back(uint16_t(word & 0x7FF), uint16_t((word >> 11) & 0x7FF), uint8_t((word >> 22) & 1), t);
        }
        triggers.clear();
        for (const CachedTrigger& c : cached)
            triggers.emplace_back(c.id, c.polarity, c.timestamp);
        if (header.end > from)
            record(events.data(), events.size(), triggers.data(), triggers.size(), from);
        if (!ok)
            break;
    }
    std::fclose(file);
    return ok;
}

void StreamRecorder::handleStop(StopCommand& command)
{
    bool ok = !writeFailed;
    if (writer) {
        ok = writer->close() && ok;
        writer.reset();
    }
    command.done->set_value(ok);
}

void StreamRecorder::handleCache(const CacheCommand& command)
{
    dropCache();
    cacheSeconds = command.seconds;
    cacheFolder = command.folder;
}

void StreamRecorder::appendToCache(const StreamChunk& chunk)
{
    if (!segmentFile || segments.empty() || chunk.begin >= segments.back().begin + SegmentSpanUs) {
        if (segmentFile)
            std::fclose(segmentFile);
        Segment segment;
        segment.path = cacheFolder + "/.sv_cache_" + tag + "_" + std::to_string(segmentCounter++) + ".bin";
        segment.begin = chunk.begin;
        segment.end = chunk.begin;
        segmentFile = std::fopen(segment.path.c_str(), "wb");
        if (!segmentFile) {
            SV_LOG_ERROR("cannot create record cache %s: %s; the cache is off", segment.path.c_str(),
                         std::strerror(errno));
            cacheSeconds = 0;
            caching.store(false);
            return;
        }
        segments.push_back(segment);
    }

    packScratch.clear();
    uint64_t previous = chunk.begin;
    for (const Event2D& e : chunk.events) {
        const uint64_t delta = e.timestamp >= previous ? e.timestamp - previous : 0;
        previous = std::max(previous, e.timestamp);
        const uint32_t address = uint32_t(e.x & 0x7FF) | (uint32_t(e.y & 0x7FF) << 11) | (uint32_t(e.polarity & 1) << 22);
        if (delta < DeltaEscape) {
            packScratch.push_back(address | uint32_t(delta) << 23);
        } else {
            packScratch.push_back(address | DeltaEscape << 23);
            packScratch.push_back(uint32_t(std::min<uint64_t>(delta, UINT32_MAX)));
        }
    }
    CacheRecordHeader header;
    header.eventCount = uint32_t(chunk.events.size());
    header.wordCount = uint32_t(packScratch.size());
    header.triggerCount = uint32_t(chunk.triggers.size());
    header.begin = chunk.begin;
    header.end = chunk.end;
    std::vector<CachedTrigger> cached;
    cached.reserve(chunk.triggers.size());
    for (const EventTriggerIn& t : chunk.triggers)
        cached.push_back({t.id, t.polarity, 0, t.timestamp});
    bool ok = std::fwrite(&header, sizeof header, 1, segmentFile) == 1;
    ok = ok && (packScratch.empty() || std::fwrite(packScratch.data(), 4, packScratch.size(), segmentFile) == packScratch.size());
    ok = ok && (cached.empty() || std::fwrite(cached.data(), sizeof(CachedTrigger), cached.size(), segmentFile) == cached.size());
    if (!ok) {
        SV_LOG_ERROR("record cache %s cannot take more data", segments.back().path.c_str());
        std::fclose(segmentFile);
        segmentFile = nullptr;
        return;
    }
    segments.back().end = chunk.end;

    // Keep the segments that reach into the last cacheSeconds and the reserve.
    const uint64_t span = uint64_t(cacheSeconds) * 1000000 + LateStartReserveUs;
    while (segments.size() > 1 && segments.front().end + span < chunk.end) {
        std::remove(segments.front().path.c_str());
        segments.pop_front();
    }
}

void StreamRecorder::dropCache()
{
    if (segmentFile) {
        std::fclose(segmentFile);
        segmentFile = nullptr;
    }
    for (const Segment& segment : segments)
        std::remove(segment.path.c_str());
    segments.clear();
}

} // namespace sorvane
