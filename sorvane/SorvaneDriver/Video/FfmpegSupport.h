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

// Once per process, before FFmpeg is used: its own chatter (encoder statistics, muxer passes)
// would drown our log, so only its errors reach standard error (every failure is reported
// through our log as well); and no single allocation may exceed what the largest frame needs,
// so that a damaged size field in a video costs a refusal, not gigabytes.
void setUpFfmpeg();

} // namespace sorvane
