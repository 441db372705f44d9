#include "SorvaneBase/PngWriter.h"

#include "SorvaneBase/WriteAll.h"

#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace sorvane {

namespace {

void putBigEndian(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(value >> shift));
}

// A chunk: length, type, data, and the CRC of type and data.
void putChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t size)
{
    putBigEndian(out, uint32_t(size));
    const size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data, data + size);
    putBigEndian(out, uint32_t(crc32(0, out.data() + typeAt, uInt(4 + size))));
}

} // namespace

bool writePng(int fd, int width, int height, const uint8_t* rgb, size_t stride, std::string& error)
{
    if (width <= 0 || height <= 0) {
        error = "an image needs a size";
        return false;
    }
    // Each row starts with its filter type: 0, the bytes as they are.
    const size_t rowBytes = size_t(width) * 3;
    std::vector<uint8_t> raw((rowBytes + 1) * size_t(height));
    for (int y = 0; y < height; ++y) {
        uint8_t* row = raw.data() + (rowBytes + 1) * size_t(y);
        row[0] = 0;
        std::memcpy(row + 1, rgb + stride * size_t(y), rowBytes);
    }
    uLongf packedSize = compressBound(uLong(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), uLong(raw.size()), Z_BEST_SPEED) != Z_OK) {
        error = "cannot compress the image";
        return false;
    }

    static const uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> file(signature, signature + sizeof signature);
    std::vector<uint8_t> header;
    putBigEndian(header, uint32_t(width));
    putBigEndian(header, uint32_t(height));
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8 bits per sample, RGB, deflate, no interlace
    putChunk(file, "IHDR", header.data(), header.size());
    putChunk(file, "IDAT", packed.data(), packedSize);
    putChunk(file, "IEND", nullptr, 0);

    if (!writeAll(fd, file.data(), file.size())) {
        error = std::string("cannot write the image: ") + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace sorvane
