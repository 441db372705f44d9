#pragma once
// Encodes packed 8-bit colour frames into an .mp4 video: H.264 through libx264 when the FFmpeg
// build has it, else MPEG-4 Part 2; yuv420p with the index at the front of the file, so standard
// players start it at once. Odd sizes lose their last column or row (yuv420p needs even ones).
//
// By default the video goes to a temporary file beside the target (see SafeOutput) and is renamed
// onto it on a successful close(), so a failed, cancelled or abandoned video never appears under
// the target name, and nothing but a regular file there is replaced, and that only when
// Options::existing says so. A live recording asks for Options::fragmented instead (see there).
//
// Threading: one thread uses a writer; no internal locking.
#include "SorvaneBase/ApsFrame.h"
#include "SorvaneBase/SafeOutput.h"

#include <cstdint>
#include <memory>
#include <string>

namespace sorvane {

class Mp4FrameWriter {
public:
    enum class PixelOrder { Bgr, Rgb };

    struct Options {
        PixelOrder pixelOrder = PixelOrder::Bgr;
        // Frames carry their own timestamps (µs, strictly increasing) instead of following each
        // other at the frame rate; the frame rate is then only the encoder's rate-control hint.
        bool timestamped = false;
        // libx264 speed preset and constant-quality factor; the MPEG-4 fallback ignores both.
        std::string preset = "veryfast";
        int crf = 23;
        int threads = 0;          // 0: the encoder picks
        int keyframeInterval = 0; // frames between keyframes; 0: one a second
        // For live recordings: the target itself is created (never over an existing file) and
        // written as a fragmented MP4 whose fragments reach the disk at least every half second,
        // so a process killed while recording leaves a playable video holding all but about
        // its last second. The keyframe interval is capped at a second, and the encoder holds
        // no frames back (larger files for the same quality).
        bool fragmented = false;
        // A file at the target: replaced only when the user asked for it. Fragmented videos
        // never replace one.
        ExistingFile existing = ExistingFile::Refuse;
        // The video goes into this output's temporary, begun by the caller, who commits it
        // (with the other members of a set); close() then only finishes the file.
        SafeOutput* into = nullptr;
    };

    Mp4FrameWriter();
    ~Mp4FrameWriter(); // discards a video that was not closed
    Mp4FrameWriter(const Mp4FrameWriter&) = delete;
    Mp4FrameWriter& operator=(const Mp4FrameWriter&) = delete;

    // False, with a log line, when the folder cannot be written or no encoder accepts the format.
    bool open(const std::string& path, int width, int height, int fps);
    bool open(const std::string& path, int width, int height, int fps, const Options& options);

    // pixels: width * height * 3 bytes in the opened pixel order, rows contiguous.
    // Constant-rate videos only.
    bool writeFrame(const uint8_t* pixels);
    // Timestamped videos only; a timestamp not after the previous one drops the frame (false).
    bool writeFrame(const uint8_t* pixels, uint64_t timestampUs);
    // The frame's own timestamp is used by timestamped videos; its size must be the opened one.
    bool writeFrame(const ApsFrame& frame);

    // Drains the encoder, finishes the file and moves it to the target name. False when any
    // step failed; then nothing is left under the target name (a fragmented video keeps the
    // fragments already written).
    bool close();
    // Drops the video under way and removes its file.
    void discard();

    bool isOpen() const;
    int64_t framesWritten() const;
    // Size of the encoded picture (the opened size rounded down to even numbers).
    int encodedWidth() const;
    int encodedHeight() const;
    // "libx264" or "mpeg4"; empty while closed.
    std::string encoderName() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

} // namespace sorvane
