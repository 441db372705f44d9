// Registers the video half with the event half as the program starts (linked in) or as the
// module loads (svraw).
#include "SorvaneDriver/Video/ApsFileReader.h"
#include "SorvaneDriver/Video/Mp4FrameWriter.h"
#include "SorvaneDriver/Video/SetCut.h"
#include "SorvaneDriver/Video/VideoExport.h"
#include "SorvaneDriver/VideoSupport.h"

namespace sorvane {

namespace {

class FragmentedVideoWriter final : public LiveVideoWriter {
public:
    bool open(const std::string& path, int width, int height, int fps) override
    {
        Mp4FrameWriter::Options options;
        options.pixelOrder = Mp4FrameWriter::PixelOrder::Bgr;
        options.timestamped = true;
        // A recording cut short (a crash, a kill, a pulled plug) keeps its frames.
        options.fragmented = true;
        return writer.open(path, width, height, fps, options);
    }
    bool writeFrame(const uint8_t* pixels, uint64_t timestampUs) override
    {
        return writer.writeFrame(pixels, timestampUs);
    }
    bool close() override { return writer.close(); }

private:
    Mp4FrameWriter writer;
};

bool videoFrames(const std::string& path, size_t& frames, int& width, int& height)
{
    auto reader = ApsFileReader::createFileReader(path);
    std::vector<uint64_t> timestamps;
    if (!reader || !reader->getFrameTimestamps(timestamps))
        return false;
    frames = timestamps.size();
    width = reader->getWidth();
    height = reader->getHeight();
    return true;
}

bool videoFrameTimes(const std::string& path, std::vector<uint64_t>& times, int& width, int& height)
{
    auto reader = ApsFileReader::createFileReader(path);
    if (!reader || !reader->getFrameTimestamps(times))
        return false;
    width = reader->getWidth();
    height = reader->getHeight();
    return true;
}

bool exportSetVideo(DvsFileReader& source, const std::string& sourcePath, uint64_t start, uint64_t end,
                    const std::string& out, ExistingFile existing, FusionView view, const VideoExportOptions& video,
                    const ProgressCallback& progress, const std::atomic<bool>& cancelled, std::string& error)
{
    FusionExportOptions options;
    options.view = view;
    options.video = video;
    return exportFusionVideo(source, sourcePath, start, end, out, existing, options, progress, cancelled, error);
}

const VideoSupport support{
    exportEventVideo,
    [] { return std::unique_ptr<LiveVideoWriter>(new FragmentedVideoWriter); },
    videoFrames,
    videoFrameTimes,
    cutFusionSet,
    exportSetVideo,
};

[[maybe_unused]] const bool registered = [] {
    registerVideoSupport(&support);
    return true;
}();

} // namespace

} // namespace sorvane

// Named by the link of SorvaneDriver, so that this object, and the video half with it, is always
// linked in.
extern "C" const bool sv_video_linked_in = true;
