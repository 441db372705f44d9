#pragma once
// Reader of the APS frames of a fusion recording (.mp4). Frames come as ApsFrame, B, G, R.
#include "SorvaneBase/ApsFrame.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sorvane {

class ApsFileReader {
public:
    // A reader for the video at path, or null when it cannot be opened or holds no video stream.
    static std::unique_ptr<ApsFileReader> createFileReader(const std::string& path);

    virtual ~ApsFileReader() = default;

    virtual bool isOpen() = 0;
    // The next getNextFrame() returns frame index (0 = first).
    virtual bool seekFrame(int64_t index) = 0;
    // Presentation time of every frame, µs from the start of the video.
    virtual bool getFrameTimestamps(std::vector<uint64_t>& timestamps) = 0;
    virtual bool getNextFrame(ApsFrame& frame) = 0;
    // The frame shown at t: the last one whose timestamp <= t.
    virtual bool getFrameByTime(uint64_t t, ApsFrame& frame) = 0;

    int getWidth() const { return width; }
    int getHeight() const { return height; }

protected:
    int width = 0;
    int height = 0;
};

} // namespace sorvane
