#pragma once
// Paints the events of a recording's range into an .mp4 video, one frame per frameStep, each
// frame showing the events of [t, t + accTime) with the viewer's painting rule.
#include "SorvaneDriver/DvsFileReader.h"
#include "SorvaneDriver/Video/FusionPicture.h"
#include "SorvaneBase/SafeOutput.h"

#include <atomic>
#include <utility>

namespace sorvane {

// How many frames an export of [start, end] writes from a recording whose events span
// [first, last]: the range is held to the events, a start before them moving by whole frame
// steps. 0 when the range misses them.
uint64_t exportedFrameCount(uint64_t start, uint64_t end, uint64_t first, uint64_t last, uint64_t frameStep);
// [start, end] held to the events [first, last]; a start before them moves by whole frame steps,
// so that the frames keep their times. The range must meet the events.
std::pair<uint64_t, uint64_t> heldToEvents(uint64_t start, uint64_t end, uint64_t first, uint64_t last,
                                           uint64_t frameStep);

// An export of more frames than this is worth a question first: it runs for a long time.
inline constexpr uint64_t kLargeExportFrames = 100'000;

// Reads the events through source.readEvents, a block at a time. False, with error set, on a bad
// range, a file that cannot be written, an encoder failure or cancellation; a failed export
// leaves no file at path. path is written as it is: the caller keeps it from replacing anything.
bool exportEventVideo(DvsFileReader& source, uint64_t start, uint64_t end, const std::string& path,
                      const VideoExportOptions& options, const ProgressCallback& progress,
                      const std::atomic<bool>& cancelled, std::string& error);

// What an export of a fusion set paints: the view, as the viewer's, and the calibration that maps
// its frames (null: the set's own, else the default mapping).
struct FusionExportOptions {
    FusionView view = FusionView::Fusion;
    const Calibrator* calibration = nullptr;
    VideoExportOptions video;
};

// How many images an export of a fusion set's [start, end] holds: the pictures the viewer shows
// while it plays the range, from start by frame steps, the last one at end.
uint64_t fusionImageCount(uint64_t start, uint64_t end, uint64_t frameStep);

// Paints [start, end] of the fusion set whose .raw source reads (at sourcePath) into the video
// out, one picture of FusionPicture per frame step (options.video.accTime is the accumulation of
// (t - accTime, t]); events outside the source's region are not read. out is never one of the
// set's members and replaces an existing file only when existing says so; it appears only when
// complete. The range is held to the set's span (the first frame, or the last event if that is
// earlier, to the last event); one outside it is refused. False, with error for the user, on any
// failure or cancellation; nothing is then left behind.
bool exportFusionVideo(DvsFileReader& source, const std::string& sourcePath, uint64_t start, uint64_t end,
                       const std::string& out, ExistingFile existing, const FusionExportOptions& options,
                       const ProgressCallback& progress, const std::atomic<bool>& cancelled, std::string& error);

} // namespace sorvane
