#include "SorvaneBase/ApsFrame.h"

namespace sorvane {

ApsFrame::ApsFrame(int width_, int height_, uint64_t header_, uint64_t timestamp_)
    : width(width_ > 0 ? width_ : 0)
    , height(height_ > 0 ? height_ : 0)
    , header(header_)
    , timestamp(timestamp_)
    , pixels(std::make_shared<std::vector<uint8_t>>(size_t(width) * size_t(height) * 3, uint8_t(0)))
{
}

ApsFrame ApsFrame::clone() const
{
    ApsFrame copy(*this);
    copy.pixels = std::make_shared<std::vector<uint8_t>>(*pixels);
    return copy;
}

} // namespace sorvane
