#pragma once
// What the video reader and writer share of FFmpeg.
extern "C" {
#include <libavutil/rational.h>
}

#include <string>

namespace sorvane {

// Our timestamps are microseconds.
inline constexpr AVRational MicrosecondTimeBase{1, 1000000};

// FFmpeg's text for one of its error codes.
std::string ffmpegError(int code);

// FFmpeg's own chatter (encoder statistics, muxer passes) would drown our log; its errors
// still reach standard error, and every failure is reported through our log as well.
void quietFfmpegLog();

} // namespace sorvane
