#include "SorvaneDriver/VideoExport.h"

#include "SorvaneBase/Logger.h"

namespace sorvane {

bool exportEventVideo(DvsFileReader&, uint64_t, uint64_t, const std::string& path,
                      const VideoExportOptions&, const ProgressCallback&, const std::atomic<bool>&)
{
    SV_LOG_ERROR("video export to %s is not available in this build", path.c_str());
    return false;
}

} // namespace sorvane
