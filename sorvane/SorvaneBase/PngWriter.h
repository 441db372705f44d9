#pragma once
// Writes an RGB888 picture as a PNG file: the fast path the tools use to keep one image of the
// view, without a toolkit. Event pictures are flat colour, so the fastest deflate level keeps
// them small.
#include <cstddef>
#include <cstdint>
#include <string>

namespace sorvane {

// Writes the whole PNG to fd (from its current position). False, with error set, on a failed
// write.
bool writePng(int fd, int width, int height, const uint8_t* rgb, size_t stride, std::string& error);

} // namespace sorvane
