#include "SorvaneDriver/Video/VideoExport.h"

#include "SorvaneBase/Logger.h"
#include "SorvaneDriver/Video/Mp4FrameWriter.h"
#include "SorvaneDriver/VideoSupport.h"

#include <algorithm>
#include <limits>
#include <tuple>
#include <utility>
#include <vector>

namespace sorvane {

namespace {

// The viewer caps its counts at this value, and the cap can make a tie: 11 positive and 12
// negative events at a pixel paint it positive there, so the video does the same.
constexpr uint8_t countCap = 10;

constexpr int defaultWidth = 1280;
constexpr int defaultHeight = 720;

uint64_t saturatingAdd(uint64_t a, uint64_t b)
{
    return a > std::numeric_limits<uint64_t>::max() - b ? std::numeric_limits<uint64_t>::max() : a + b;
}

// One frame's counts and picture. The picture stays filled with the background between frames:
// only the pixels that saw events are painted and restored, so a frame costs time in proportion
// to its events, not to the sensor size.
class EventFramePainter {
public:
    EventFramePainter(int width_, int height_, const VideoExportOptions& options)
        : width(width_)
        , height(height_)
        , positive(options.positiveColor)
        , negative(options.negativeColor)
        , background(options.backgroundColor)
        , counts(size_t(width_) * size_t(height_) * 2, 0)
        , picture(size_t(width_) * size_t(height_) * 3)
    {
        for (size_t i = 0; i < picture.size(); i += 3)
            setPixel(i, background);
    }

    // Counts the events that lie on the sensor; paint() then draws the frame.
    void count(std::span<const Event2D> events)
    {
        for (const Event2D& event : events) {
            if (event.x >= width || event.y >= height)
                continue;
            const uint32_t pixel = uint32_t(event.y) * uint32_t(width) + event.x;
            uint8_t* count = &counts[size_t(pixel) * 2];
            if (count[0] == 0 && count[1] == 0)
                touched.push_back(pixel);
            uint8_t& slot = count[event.polarity ? 1 : 0];
            if (slot < countCap)
                ++slot;
        }
    }

    void paint()
    {
        for (uint32_t pixel : touched) {
            const uint8_t negatives = counts[size_t(pixel) * 2];
            const uint8_t positives = counts[size_t(pixel) * 2 + 1];
            setPixel(size_t(pixel) * 3, positives > 0 && positives >= negatives ? positive : negative);
        }
    }

    void clear()
    {
        for (uint32_t pixel : touched) {
            counts[size_t(pixel) * 2] = 0;
            counts[size_t(pixel) * 2 + 1] = 0;
            setPixel(size_t(pixel) * 3, background);
        }
        touched.clear();
    }

    const uint8_t* pixels() const { return picture.data(); }

private:
    void setPixel(size_t offset, const Rgb& colour)
    {
        picture[offset] = colour.b;
        picture[offset + 1] = colour.g;
        picture[offset + 2] = colour.r;
    }

    const uint16_t width;
    const uint16_t height;
    const Rgb positive;
    const Rgb negative;
    const Rgb background;
    std::vector<uint8_t> counts;  // per pixel: polarity 0, polarity 1
    std::vector<uint8_t> picture; // B, G, R
    std::vector<uint32_t> touched;
};

} // namespace

bool exportEventVideo(DvsFileReader& source, uint64_t start, uint64_t end, const std::string& path,
                      const VideoExportOptions& options, const ProgressCallback& progress,
                      const std::atomic<bool>& cancelled, std::string& error)
{
    const auto fail = [&](std::string message) {
        error = "video export refused: " + std::move(message);
        SV_LOG_ERROR("%s", error.c_str());
        return false;
    };
    error.clear();
    if (start > end)
        return fail("start " + std::to_string(start) + " lies after end " + std::to_string(end));
    if (options.frameStep == 0 || options.accTime == 0 || options.fps <= 0 || options.fps > 1000)
        return fail("frame step " + std::to_string(options.frameStep) + " us, accumulation "
                    + std::to_string(options.accTime) + " us, " + std::to_string(options.fps) + " fps");

    int width = defaultWidth;
    int height = defaultHeight;
    DvsFileInfo info;
    if (source.getFileInfo(info) && info.width > 0 && info.height > 0 && info.width <= 65535
        && info.height <= 65535) {
        width = info.width;
        height = info.height;
    }

    // Frames outside the recorded events would only be background: the range is held to them,
    // which also keeps an open-ended range from turning into hours of empty video.
    uint64_t first = 0;
    uint64_t last = 0;
    if (!source.getStartTimestamp(first) || !source.getEndTimestamp(last))
        return fail("the recording has no loaded events");
    if (start > last || end < first)
        return fail(rangeOutsideMessage(start, end, first, last));
    const uint64_t frameCount = exportedFrameCount(start, end, first, last, options.frameStep);
    std::tie(start, end) = heldToEvents(start, end, first, last, options.frameStep);

    // Event frames are flat colour and sharp dots: the slower presets buy little for them, and
    // this one keeps a 1280 x 720 export well above real time on two cores.
    Mp4FrameWriter::Options encoding;
    encoding.preset = "superfast";
    // The caller has made path safe to write (its own temporary, as a rule).
    encoding.existing = ExistingFile::Replace;
    Mp4FrameWriter writer;
    if (!writer.open(path, width, height, options.fps, encoding)) {
        error = "cannot write the video " + path;
        return false;
    }
    SV_LOG_INFO("exporting events %llu to %llu as %llu frames to %s", static_cast<unsigned long long>(start),
                static_cast<unsigned long long>(end), static_cast<unsigned long long>(frameCount), path.c_str());

    EventFramePainter painter(width, height, options);
    const uint64_t rangeEnd = saturatingAdd(end, 1); // end is part of the range
    int reportedPercent = -1;
    for (uint64_t index = 0; index < frameCount; ++index) {
        const uint64_t t = start + index * options.frameStep;
        const uint64_t windowEnd = std::min(saturatingAdd(t, options.accTime), rangeEnd);
        const bool read = source.readEvents(t, windowEnd - 1, [&](std::span<const Event2D> events) {
            painter.count(events);
            return !cancelled.load(std::memory_order_relaxed);
        });
        if (cancelled.load(std::memory_order_relaxed)) {
            writer.discard();
            error = "video export cancelled";
            SV_LOG_INFO("video export to %s cancelled", path.c_str());
            return false;
        }
        painter.paint();
        if (!read || !writer.writeFrame(painter.pixels())) {
            writer.discard();
            error = "video export failed at frame " + std::to_string(index);
            SV_LOG_ERROR("%s (%s)", error.c_str(), path.c_str());
            return false;
        }
        painter.clear();

        const int percent = int(index * 100 / frameCount);
        if (progress && percent != reportedPercent) {
            reportedPercent = percent;
            progress(double(index) / double(frameCount));
        }
    }
    if (!writer.close()) {
        error = "cannot finish the video " + path;
        return false;
    }
    if (progress)
        progress(1.0);
    return true;
}

bool exportFusionVideo(DvsFileReader& source, const std::string& sourcePath, uint64_t start, uint64_t end,
                       const std::string& out, ExistingFile existing, const FusionExportOptions& options,
                       const ProgressCallback& progress, const std::atomic<bool>& cancelled, std::string& error)
{
    error.clear();
    const auto refuse = [&](const std::string& why) {
        error = "cannot export " + sourcePath + ": " + why;
        SV_LOG_ERROR("%s", error.c_str());
        return false;
    };
    const VideoExportOptions& video = options.video;
    if (start > end)
        return refuse("start " + std::to_string(start) + " lies after end " + std::to_string(end));
    if (video.frameStep == 0 || video.fps <= 0 || video.fps > 1000)
        return refuse("frame step " + std::to_string(video.frameStep) + " us at " + std::to_string(video.fps) + " fps");

    uint64_t last = 0;
    DvsFileInfo info;
    if (!source.getEndTimestamp(last) || !source.getFileInfo(info))
        return refuse("it holds no events");
    const FusionSetPaths set = fusionSetPaths(sourcePath);
    Calibrator ownCalibration;
    if (!options.calibration && !loadSetCalibration(set.calibration, ownCalibration, error))
        return refuse(error);
    std::unique_ptr<FusionPicture> picture =
        FusionPicture::open(set.video, options.calibration ? *options.calibration : ownCalibration, error);
    if (!picture)
        return refuse(error);
    picture->setTimeOffset(info.apsTimeOffset);
    const uint64_t first = fusionSetStart(info.apsTimeOffset, last);
    if (start > last || end < first)
        return refuse(rangeOutsideMessage(start, end, first, last));
    start = std::max(start, first);
    end = std::min(end, last);
    const uint64_t images = fusionImageCount(start, end, video.frameStep);

    SafeOutput output;
    std::string problem;
    if (!output.begin(out, existing, {sourcePath, -1}, problem))
        return refuse(problem);
    Mp4FrameWriter writer;
    Mp4FrameWriter::Options encoding;
    encoding.preset = "superfast";
    encoding.into = &output;
    const int width = eventimage::width;
    const int height = eventimage::height;
    if (!writer.open(out, width, height, video.fps, encoding))
        return refuse("cannot write " + out);
    SV_LOG_INFO("exporting the set %s from %llu to %llu as %llu images to %s", sourcePath.c_str(),
                static_cast<unsigned long long>(start), static_cast<unsigned long long>(end),
                static_cast<unsigned long long>(images), out.c_str());

    const Palette colours{"", video.positiveColor, video.negativeColor, video.backgroundColor};
    std::vector<uint8_t> pixels(size_t(width) * height * 3);
    int reportedPercent = -1;
    for (uint64_t index = 0; index < images; ++index) {
        if (cancelled.load(std::memory_order_relaxed))
            return refuse("cancelled");
        const uint64_t t = index + 1 == images ? end : start + index * video.frameStep;
        if (!picture->paint(source, t, video.accTime, options.view, colours, nullptr, pixels.data(), size_t(width) * 3,
                            problem))
            return refuse(cancelled.load() ? "cancelled" : problem);
        if (!writer.writeFrame(pixels.data()))
            return refuse("cannot write " + out);
        const int percent = int((index + 1) * 100 / images);
        if (progress && percent != reportedPercent) {
            reportedPercent = percent;
            progress(double(index + 1) / double(images));
        }
    }
    if (!writer.close() || !output.commit(problem))
        return refuse(problem.empty() ? "cannot finish " + out : problem);
    return true;
}

} // namespace sorvane
