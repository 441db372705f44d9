#include "SorvaneDriver/Video/FfmpegSupport.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include <mutex>

namespace sorvane {

std::string ffmpegError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

namespace {

// A 4096 x 4096 picture of four bytes a pixel, well above any frame sensor we record.
constexpr size_t kMaxFfmpegAllocation = size_t(64) << 20;

} // namespace

void setUpFfmpeg()
{
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_ERROR);
        av_max_alloc(kMaxFfmpegAllocation);
    });
}

} // namespace sorvane
