#pragma once
// Paints the events of a recording's range into an .mp4 video, one frame per frameStep, each
// frame showing the events of [t, t + accTime) with the viewer's painting rule.
#include "SorvaneDriver/DvsFileReader.h"

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

} // namespace sorvane
