#pragma once
// Cutting a fusion set (see FusionSetPaths in VideoSupport.h) to a time range.
#include "SorvaneDriver/DvsFileReader.h"

#include <atomic>
#include <string>

namespace sorvane {

// Writes [start, end] of the set whose .raw source reads (at sourcePath) as a new set
// out (OUT.raw) with OUT.mp4 and OUT.json beside it: the events and trigger edges as
// exportEventData cuts them; every frame whose time on the event clock lies in [start, end], that
// time kept (OUT.raw's apsTimeOffset is the first kept frame's time, the frames' presentation
// times count from it); the calibration as it is (none when the set has none). Nothing appears
// under the three names until all three are complete; an existing member is replaced only when
// existing says so, and no member of the source's set is ever written.
//
// progress gets fractions from the calling thread (source's own progress callback is replaced
// while it runs); cancelled, or source.cancel(), stops it. A range outside the events, or one
// holding no frame, is refused. False, with error for the user, on any failure; nothing is then
// left behind.
bool cutFusionSet(DvsFileReader& source, const std::string& sourcePath, uint64_t start, uint64_t end,
                  const std::string& out, ExistingFile existing, const ProgressCallback& progress,
                  const std::atomic<bool>& cancelled, std::string& error);

} // namespace sorvane
