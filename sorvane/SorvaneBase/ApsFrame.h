#pragma once
// A frame of the APS (frame) sensor: 3 bytes per pixel in B, G, R order, rows contiguous.
// Copies share the pixel buffer; clone() makes an independent copy.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace sorvane {

class ApsFrame {
public:
    ApsFrame() : ApsFrame(0, 0, 0, 0) {}
    // header is free for the producer (the simulated camera stores its frame counter there).
    ApsFrame(int width, int height, uint64_t header, uint64_t timestamp);

    ApsFrame clone() const;

    uint8_t* data() { return pixels->data(); }
    const uint8_t* data() const { return pixels->data(); }
    size_t getDataSize() const { return pixels->size(); }

    int getWidth() const { return width; }
    int getHeight() const { return height; }
    uint64_t getHeader() const { return header; }
    uint64_t getTimestamp() const { return timestamp; }
    void setTimestamp(uint64_t value) { timestamp = value; }
    bool isEmpty() const { return pixels->empty(); }

private:
    int width;
    int height;
    uint64_t header;
    uint64_t timestamp;
    std::shared_ptr<std::vector<uint8_t>> pixels;
};

} // namespace sorvane
