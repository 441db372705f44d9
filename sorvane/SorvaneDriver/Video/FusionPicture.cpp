#include "SorvaneDriver/Video/FusionPicture.h"

#include "SorvaneDriver/Video/ApsFileReader.h"
#include "sdk/Utils/Json/JsonUtils.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sorvane {

using eventimage::height;
using eventimage::width;

void drawEventsOver(uint8_t* bgr, size_t stride, const Event2D* begin, const Event2D* end, bool mirrored,
                    Rgb positive, Rgb negative, const EventRegion* only)
{
    const Rgb colours[2] = {negative, positive};
    for (const Event2D* e = begin; e != end; ++e) {
        // Turning a readout column gives the shown one; an x beyond the grid wraps past it and is
        // dropped.
        const uint16_t column = mirrored ? uint16_t(width - 1 - e->x) : e->x;
        if (column >= width || e->y >= height || (only && !only->contains(column, e->y)))
            continue;
        const Rgb& colour = colours[e->polarity == 1 ? 1 : 0];
        uint8_t* p = bgr + e->y * stride + 3 * size_t(column);
        p[0] = colour.b;
        p[1] = colour.g;
        p[2] = colour.r;
    }
}

void drawFrame(const ApsFrame& mapped, uint8_t* bgr, size_t stride)
{
    const size_t rowBytes = size_t(width) * 3;
    const bool sized = mapped.getWidth() == width && mapped.getHeight() == height && !mapped.isEmpty();
    for (int y = 0; y < height; ++y) {
        if (sized)
            std::memcpy(bgr + y * stride, mapped.data() + y * rowBytes, rowBytes);
        else
            std::memset(bgr + y * stride, 0, rowBytes);
    }
}

EventRegion readoutRegion(const EventRegion& shown)
{
    const auto turned = [](uint32_t column) { return column < uint32_t(width) ? uint32_t(width) - 1 - column : 0; };
    return EventRegion{turned(shown.x1), shown.y0, turned(shown.x0), shown.y1};
}

bool fitsEventGrid(const CalibratorParameters& parameters)
{
    return parameters.dvsWidth == width && parameters.dvsHeight == height && parameters.apsWidth > 0
        && parameters.apsHeight > 0;
}

bool loadSetCalibration(const std::string& path, Calibrator& calibrator, std::string& error)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 && errno == ENOENT)
        return true;
    CalibratorParameters parameters;
    if (!readCalibrationFile(path, parameters)) {
        error = "the calibration " + path + " cannot be read";
        return false;
    }
    if (!fitsEventGrid(parameters)) {
        error = "the calibration " + path + " is not for a " + std::to_string(width) + " x " + std::to_string(height)
            + " event sensor";
        return false;
    }
    return calibrator.loadCalibrationParam(parameters);
}

std::unique_ptr<FusionPicture> FusionPicture::open(const std::string& videoPath, const Calibrator& calibration,
                                                   std::string& error)
{
    std::unique_ptr<ApsFileReader> frames = ApsFileReader::createFileReader(videoPath);
    std::vector<uint64_t> times;
    if (!frames || !frames->isOpen() || !frames->getFrameTimestamps(times) || times.empty()) {
        error = "cannot read the frames of " + videoPath;
        return nullptr;
    }
    std::unique_ptr<FusionPicture> picture(new FusionPicture(std::move(frames), std::move(times), calibration));
    if (!picture->mapFrameAt(0, error))
        return nullptr;
    return picture;
}

FusionPicture::FusionPicture(std::unique_ptr<ApsFileReader> frames_, std::vector<uint64_t> frameTimes_,
                             const Calibrator& calibration)
    : frames(std::move(frames_))
    , frameTimes(std::move(frameTimes_))
    , calibrator(calibration)
{
}

FusionPicture::~FusionPicture() = default;

void FusionPicture::setTimeOffset(int64_t apsTimeOffset)
{
    offset = uint64_t(std::max<int64_t>(apsTimeOffset, 0));
}

bool FusionPicture::mapFrameAt(uint64_t t, std::string& error)
{
    const uint64_t videoTime = t > offset ? t - offset : 0;
    const auto after = std::upper_bound(frameTimes.begin(), frameTimes.end(), videoTime);
    const int64_t index = std::max<int64_t>(0, int64_t(after - frameTimes.begin()) - 1);
    if (index == mappedIndex)
        return true;
    // The reader decodes forward when the frame lies ahead, and seeks only when it must.
    ApsFrame frame;
    const bool decoded = frames->seekFrame(index) && frames->getNextFrame(frame);
    if (!decoded && mapped.isEmpty()) {
        error = "frame " + std::to_string(index) + " cannot be decoded";
        return false;
    }
    // A damaged frame leaves the one before it in place (the reader has said which it was), and is
    // not tried again for every picture that falls in its time.
    if (decoded)
        mapped = calibrator.mapApsToDvs(frame);
    mappedIndex = index;
    return true;
}

bool FusionPicture::paint(DvsFileReader& events, uint64_t t, uint64_t accumulation, FusionView view,
                          const Palette& colours, const EventRegion* only, uint8_t* bgr, size_t stride,
                          std::string& error)
{
    const uint64_t start = eventimage::windowStart(t, accumulation);
    if (view == FusionView::Dvs && accumulation > 0) {
        if (counts.empty())
            counts.assign(eventimage::planeSize, 0);
        else
            std::fill(counts.begin(), counts.end(), uint16_t(0));
        const bool read = events.readEvents(start, t, [&](std::span<const Event2D> block) {
            turned.assign(block.begin(), block.end());
            for (Event2D& e : turned)
                e.x = uint16_t(width - 1 - e.x);
            eventimage::count(counts.data(), turned.data(), turned.data() + turned.size(), only);
            return true;
        });
        if (!read) {
            error = "the events of " + std::to_string(start) + " to " + std::to_string(t) + " cannot be read";
            return false;
        }
        // The count painter writes red first; with red and blue exchanged it writes BGR rows.
        const auto swapped = [](Rgb c) { return Rgb{c.b, c.g, c.r}; };
        const Palette bgrColours{colours.name, swapped(colours.positive), swapped(colours.negative),
                                 swapped(colours.background)};
        eventimage::paint(counts.data(), bgr, stride, bgrColours);
        return true;
    }

    if (!mapFrameAt(t, error))
        return false;
    drawFrame(mapped, bgr, stride);
    if (view == FusionView::Aps || accumulation == 0)
        return true;
    const bool read = events.readEvents(start, t, [&](std::span<const Event2D> block) {
        drawEventsOver(bgr, stride, block.data(), block.data() + block.size(), true, colours.positive,
                       colours.negative, only);
        return true;
    });
    if (!read)
        error = "the events of " + std::to_string(start) + " to " + std::to_string(t) + " cannot be read";
    return read;
}

} // namespace sorvane
