#pragma once
// The video half of the driver (.mp4 in and out, through FFmpeg) is kept apart from the event
// half, so that a program on events alone never loads FFmpeg and the hundred-odd libraries it
// pulls in. Programs linking SorvaneDriver have it linked in (it registers itself as they start);
// svraw links only SorvaneDriverEvents and loads the video module, libsv_video.so, the first time
// a command needs it.
#include "SorvaneDriver/DvsFileReader.h"
#include "SorvaneBase/SafeOutput.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sorvane {

// What a picture of a fusion set shows: Fusion the events drawn over the frame, Aps the frame
// alone, Dvs the events alone, painted as an event recording's are.
enum class FusionView { Fusion, Aps, Dvs };

// A live recording's video of timestamped BGR frames, which keeps what was written if the
// process dies.
class LiveVideoWriter {
public:
    virtual ~LiveVideoWriter() = default;
    virtual bool open(const std::string& path, int width, int height, int fps) = 0;
    // timestampUs strictly increasing.
    virtual bool writeFrame(const uint8_t* pixels, uint64_t timestampUs) = 0;
    virtual bool close() = 0;
};

struct VideoSupport {
    // See exportEventVideo (Video/VideoExport.h).
    bool (*exportEventVideo)(DvsFileReader& source, uint64_t start, uint64_t end, const std::string& path,
                             const VideoExportOptions& options, const ProgressCallback& progress,
                             const std::atomic<bool>& cancelled, std::string& error) = nullptr;
    std::unique_ptr<LiveVideoWriter> (*newLiveVideoWriter)() = nullptr;
    // The frame count and size of the video at path; false when it cannot be read.
    bool (*videoFrames)(const std::string& path, size_t& frames, int& width, int& height) = nullptr;
    // The presentation time of every frame (µs from the start of the video) and the frames' size;
    // false when the video cannot be read.
    bool (*videoFrameTimes)(const std::string& path, std::vector<uint64_t>& times, int& width, int& height) = nullptr;
    // See cutFusionSet (Video/SetCut.h).
    bool (*cutFusionSet)(DvsFileReader& source, const std::string& sourcePath, uint64_t start, uint64_t end,
                         const std::string& out, ExistingFile existing, const ProgressCallback& progress,
                         const std::atomic<bool>& cancelled, std::string& error) = nullptr;
    // See exportFusionVideo (Video/VideoExport.h); the view, and the set's own calibration.
    bool (*exportFusionVideo)(DvsFileReader& source, const std::string& sourcePath, uint64_t start, uint64_t end,
                              const std::string& out, ExistingFile existing, FusionView view,
                              const VideoExportOptions& options, const ProgressCallback& progress,
                              const std::atomic<bool>& cancelled, std::string& error) = nullptr;
};

// A fusion set is NAME.raw with a regular file NAME.mp4 beside it (its frames) and NAME.json (its
// calibration). A frame's time on the event clock is the apsTimeOffset of NAME.raw's header plus
// the frame's presentation time in NAME.mp4.
struct FusionSetPaths {
    std::string raw;
    std::string video;
    std::string calibration;
};
// The members of the set named by rawPath (whether they exist or not).
FusionSetPaths fusionSetPaths(const std::string& rawPath);
// Whether rawPath is the .raw of a set.
bool isFusionSet(const std::string& rawPath);
// The .raw of the set that path is a member of (NAME.raw, NAME.mp4 or NAME.json), so that a set
// is known from any member; path itself when it is no member of a set.
std::string fusionSetEvents(const std::string& path);

// Where the viewer's range of a set begins: at its first frame (its apsTimeOffset, no earlier than
// the clock's zero), or at its last event when that is earlier.
uint64_t fusionSetStart(int64_t apsTimeOffset, uint64_t lastEvent);

// Called by the video half when it is linked in or loaded; support must outlive the process.
void registerVideoSupport(const VideoSupport* support);
// The video half, loaded now if it is neither linked in nor loaded yet. Null, with error set,
// when it cannot be had.
const VideoSupport* videoSupport(std::string& error);

} // namespace sorvane
