#pragma once
// Records a camera's stream into an EVT 3.0 `.raw` file on its own writer thread, and keeps an
// optional rolling cache of the last seconds that heads the next recording. The producer hands
// over whole chunks and never waits for the disk; nothing pushed is dropped.
//
// The cache lives in small files in the folder given to setCache (a compact private format, four
// bytes an event), so a long cache at a high rate costs disk, not memory.
//
// Threading: push() from the producer thread; start, stop and setCache from any thread.
#include "SorvaneDriver/Raw/RawEventWriter.h"
#include "SorvaneDriver/Simulated/StreamChunk.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>

namespace sorvane {

class StreamRecorder {
public:
    // tag names this stream's cache files (the camera serial).
    explicit StreamRecorder(std::string tag);
    ~StreamRecorder(); // finishes a running recording, removes the cache files
    StreamRecorder(const StreamRecorder&) = delete;
    StreamRecorder& operator=(const StreamRecorder&) = delete;

    // The cache holds this much more than asked, so a recording started late (its caller busy)
    // can still begin at the moment it was meant to.
    static constexpr uint64_t LateStartReserveUs = 5000000;

    // seconds 0 switches the cache off. False (with a log line) when the folder is not writable.
    bool setCache(uint16_t seconds, const std::string& folder);
    // Creates path and records: the cache first, then every chunk pushed from now on. The file
    // begins at camera time from, as far back as the cache reaches; without it, the cache's
    // seconds before now head it. mirrorX writes column width - 1 - x. False when already
    // recording or the file cannot be created.
    bool start(const std::string& path, const RawHeaderInfo& header, bool mirrorX = false,
               std::optional<uint64_t> from = std::nullopt);
    // Writes everything pushed before the call and closes the file; false when not recording or
    // when writing failed.
    bool stop();

    bool isRecording() const { return recording.load(); }
    // The producer pushes only while this is true.
    bool wantsChunks() const { return recording.load() || caching.load(); }
    void push(ChunkPtr chunk);

    // Events written into the current (or last) recording so far.
    uint64_t recordedEvents() const { return writtenEvents.load(); }

private:
    struct StartCommand {
        std::shared_ptr<RawEventWriter> writer;
        bool mirrorX = false;
        int width = 1280;
        std::optional<uint64_t> from;
    };
    struct StopCommand {
        std::shared_ptr<std::promise<bool>> done;
    };
    struct CacheCommand {
        uint16_t seconds = 0;
        std::string folder;
    };
    using Item = std::variant<ChunkPtr, StartCommand, StopCommand, CacheCommand>;

    struct Segment {
        std::string path;
        uint64_t begin = 0;
        uint64_t end = 0;
    };

    void enqueue(Item item);
    void run();
    void handleChunk(const StreamChunk& chunk);
    void handleStart(StartCommand& command);
    void handleStop(StopCommand& command);
    void handleCache(const CacheCommand& command);
    void appendToCache(const StreamChunk& chunk);
    void dropCache();
    bool replaySegment(const Segment& segment, uint64_t from);
    void record(const Event2D* events, size_t eventCount, const EventTriggerIn* triggers,
                size_t triggerCount, uint64_t from);

    std::string tag;
    // Serialises start, stop and setCache when more than one thread controls the recording.
    std::mutex controlMutex;
    std::atomic<bool> recording{false};
    std::atomic<bool> caching{false};
    std::atomic<uint64_t> writtenEvents{0};

    // Guards queue and quit between the controlling, producer and writer threads.
    std::mutex queueMutex;
    std::condition_variable queueChanged;
    std::deque<Item> queue;
    bool quit = false;

    // Writer-thread state.
    std::shared_ptr<RawEventWriter> writer;
    bool mirrorX = false;
    int mirrorWidth = 1280;
    bool writeFailed = false;
    uint16_t cacheSeconds = 0;
    std::string cacheFolder;
    std::deque<Segment> segments;
    std::FILE* segmentFile = nullptr;
    uint64_t segmentCounter = 0;
    uint64_t lastEnd = 0;
    std::vector<uint32_t> packScratch;
    std::vector<Event2D> eventScratch;

    std::thread thread;
};

} // namespace sorvane
