#pragma once
// The video half of the driver (.mp4 in and out, through FFmpeg) is kept apart from the event
// half, so that a program on events alone never loads FFmpeg and the hundred-odd libraries it
// pulls in. Programs linking SorvaneDriver have it linked in (it registers itself as they start);
// svraw links only SorvaneDriverEvents and loads the video module, libsv_video.so, the first time
// a command needs it.
#include "SorvaneDriver/DvsFileReader.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sorvane {

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
};

// Called by the video half when it is linked in or loaded; support must outlive the process.
void registerVideoSupport(const VideoSupport* support);
// The video half, loaded now if it is neither linked in nor loaded yet. Null, with error set,
// when it cannot be had.
const VideoSupport* videoSupport(std::string& error);

} // namespace sorvane
