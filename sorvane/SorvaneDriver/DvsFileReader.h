#pragma once
// Reader of event recordings: `.raw` (EVT 2.0, 2.1 and 3.0) and `.dat`.
//
// Threading: one reader serves one caller at a time, except cancel(), which may be called from
// any thread while a long operation (loadFile, exportEventData, exportVideo) runs.
#include "SorvaneBase/SafeOutput.h"
#include "SorvaneDriver/Raw/EventRegion.h"
#include "SorvaneDriver/Raw/RawHeader.h"
#include "sdk/SvEventRecords.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sorvane {

struct DvsFileInfo {
    std::string encoding; // "EVT2.0", "EVT2.1", "EVT3.0" or "DAT"
    int width = 0;
    int height = 0;
    // Whether the size was stated in the header or taken from the events (a `.dat` file need not
    // state it); Default: neither, 1280x720 assumed.
    GeometrySource geometryFrom = GeometrySource::Header;
    // Bytes at the end too few for a whole event word (a file cut short), left out.
    uint64_t trailingBytes = 0;
    std::string serial;
    uint64_t eventCount = 0;
    uint64_t triggerCount = 0;
    uint64_t firstTimestamp = 0;
    uint64_t lastTimestamp = 0;
    uint64_t fileSize = 0;
    // Events that lay outside the sensor the header declares, left out.
    uint64_t eventsOutside = 0;
    // Damaged time words that were ignored instead of moving the time.
    uint64_t timeRepairs = 0;
    // Time of the APS clock's zero on the event clock, for fusion recordings; 0 otherwise.
    int64_t apsTimeOffset = 0;
};

struct Rgb {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// How exportVideo paints its frames; the viewer passes the user's display settings.
struct VideoExportOptions {
    uint64_t accTime = 33333;   // events of [t, t + accTime) make the frame at t
    uint64_t frameStep = 33333; // recording time between two frames
    int fps = 30;               // frame rate written into the video
    Rgb positiveColor{191, 188, 180};
    Rgb negativeColor{64, 61, 51};
    Rgb backgroundColor{112, 112, 112};
};

// fraction in [0, 1] of the operation under way.
using ProgressCallback = std::function<void(double fraction)>;

using EventBuffer = std::vector<Event2D>;
// Takes one block of events; false stops the reading.
using EventBlockSink = std::function<bool(std::span<const Event2D> events)>;
using TriggerBlockSink = std::function<bool(std::span<const EventTriggerIn> edges)>;

// What a cut or an export of [start, end] is told when the range misses the recording.
std::string rangeOutsideMessage(uint64_t start, uint64_t end, uint64_t first, uint64_t last);

// How loadFile uses the index kept in the user's cache folder from an earlier scan.
enum class IndexCaching {
    Use,     // take it when it belongs to the file as it is now; else scan and keep the new one
    Rebuild, // scan anyway and keep the new one
    Off,     // scan, and keep nothing
};

class DvsFileReader {
public:
    // A reader for path if its header names a known event encoding, else null (with a log line
    // saying why). The file is opened and its header read; events are indexed by loadFile().
    // A `.dat` file is known by its name or, under any name, by its header.
    static std::unique_ptr<DvsFileReader> createFileReader(const std::string& path);
    // The same, saying why there is none in error.
    static std::unique_ptr<DvsFileReader> createFileReader(const std::string& path, std::string& error);

    virtual ~DvsFileReader() = default;

    // Builds the seek index, or takes the one kept from an earlier scan of the unchanged file.
    // False when cancelled or unreadable.
    virtual bool loadFile() = 0;
    // A reader that keeps no index has nothing to do.
    virtual void setIndexCaching(IndexCaching) {}
    // First and last event timestamps; false before a successful load or for a file without events.
    virtual bool getStartTimestamp(uint64_t& timestamp) = 0;
    virtual bool getEndTimestamp(uint64_t& timestamp) = 0;
    // Positions the reader at the first event at or after t; false when there is none.
    virtual bool seekTime(uint64_t t) = 0;
    // Events of [position, position + duration), advancing the position; null at the end.
    virtual std::shared_ptr<EventBuffer> getNTimeEvents(uint64_t duration) = 0;
    // Events of [start, start + duration): empty when the window holds none, null once start
    // lies past the last event. Leaves the position after the window. A window holds at most
    // kMaxWindowEvents (a frame's counts saturate long before); readEvents has them all.
    virtual std::shared_ptr<EventBuffer> getEventsByTime(uint64_t start, uint64_t duration) = 0;
    static constexpr size_t kMaxWindowEvents = size_t(1) << 23;
    // Hands every event of [start, end] to sink in file order, in blocks of bounded size, so that
    // memory does not grow with the range. False when cancelled, unreadable or stopped by sink.
    virtual bool readEvents(uint64_t start, uint64_t end, const EventBlockSink& sink) = 0;
    // Writes the events and trigger edges of [start, end] into a new EVT 3.0 recording at path.
    // A file at path is replaced only when existing says the user asked for it; the recording's
    // own set is never written (see SafeOutput).
    virtual bool exportEventData(uint64_t start, uint64_t end, const std::string& path,
                                 ExistingFile existing = ExistingFile::Refuse) = 0;
    // The same into output, begun by the caller, who commits it (a set's members are committed
    // together); headerKeys are set in the new header, e.g. {"apsTimeOffset", "1234"}.
    virtual bool exportEventDataTo(uint64_t /*start*/, uint64_t /*end*/, SafeOutput& /*output*/,
                                   const std::map<std::string, std::string>& /*headerKeys*/)
    {
        return false;
    }
    // Writes the range [start, end] as an .mp4 video, painted as setVideoExportOptions says; an
    // existing file as exportEventData.
    virtual bool exportVideo(uint64_t start, uint64_t end, const std::string& path,
                             ExistingFile existing = ExistingFile::Refuse) = 0;
    virtual bool getFileInfo(DvsFileInfo& info) = 0;
    // From now on only the events inside region are read, cut, exported and converted (trigger
    // edges all stay); nullopt: the whole sensor. False, with error set and nothing changed, when
    // region is empty or not inside the sensor. Call after loadFile (a `.dat` file's size may
    // come from its events).
    virtual bool setRegion(const std::optional<EventRegion>& /*region*/, std::string& error)
    {
        error = "this recording cannot be read by region";
        return false;
    }
    // Writes every event and trigger edge into a new `.raw` recording at path, in encoding (Evt3
    // or Evt2); an existing file as exportEventData.
    virtual bool convertTo(const std::string& /*path*/, EventEncoding /*encoding*/,
                           ExistingFile /*existing*/ = ExistingFile::Refuse)
    {
        return false;
    }
    // Why the last cut or export failed, for the user; empty after a success.
    virtual std::string lastError() const = 0;

    // Events per bin over [first event, last event] split into `bins` equal bins, from the seek
    // index (no pass over the events); empty before a successful load or without an index.
    virtual std::vector<uint64_t> getEventRateProfile(size_t /*bins*/) { return {}; }
    // Bins enough for a pixel each across the widest time slider.
    static constexpr size_t kRateProfileBins = 2048;
    // Hands the trigger edges of [start, end] to sink in file order, in blocks of bounded size,
    // so that memory does not grow with their number. False when unreadable or stopped by sink.
    virtual bool readTriggerEvents(uint64_t start, uint64_t end, const TriggerBlockSink& sink) = 0;
    // The same, gathered: for ranges known to hold few.
    std::vector<EventTriggerIn> getTriggerEvents(uint64_t start, uint64_t end)
    {
        std::vector<EventTriggerIn> found;
        readTriggerEvents(start, end, [&](std::span<const EventTriggerIn> edges) {
            found.insert(found.end(), edges.begin(), edges.end());
            return true;
        });
        return found;
    }
    virtual void setVideoExportOptions(const VideoExportOptions& options) = 0;
    // Called from the thread doing the work, at most about a hundred times per operation.
    virtual void setProgressCallback(ProgressCallback callback) = 0;
    // Makes the running and every later long operation return false, until resetCancel().
    virtual void cancel() = 0;
    virtual void resetCancel() = 0;
};

} // namespace sorvane
