#pragma once
// Paints the events of a recording's range into an .mp4 video, one frame per frameStep, each
// frame showing the events of [t, t + accTime) with the viewer's painting rule.
#include "SorvaneDriver/DvsFileReader.h"

#include <atomic>

namespace sorvane {

// Reads the events through source.readEvents, a block at a time. False, with error set, on a bad
// range, a file that cannot be written, an encoder failure or cancellation; a failed export
// leaves no file at path. path is written as it is: the caller keeps it from replacing anything.
bool exportEventVideo(DvsFileReader& source, uint64_t start, uint64_t end, const std::string& path,
                      const VideoExportOptions& options, const ProgressCallback& progress,
                      const std::atomic<bool>& cancelled, std::string& error);

} // namespace sorvane
