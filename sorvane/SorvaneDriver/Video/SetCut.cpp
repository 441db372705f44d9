#include "SorvaneDriver/Video/SetCut.h"

#include "SorvaneDriver/Video/ApsFileReader.h"
#include "SorvaneDriver/Video/Mp4FrameWriter.h"
#include "SorvaneDriver/VideoSupport.h"

#include "SorvaneBase/Logger.h"
#include "SorvaneBase/WriteAll.h"
#include "SorvaneDriver/Raw/ReadAt.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

namespace sorvane {

namespace {

// A calibration is a few kilobytes; anything this large is not one.
constexpr off_t kMaxCalibrationBytes = 16 << 20;
// Share of the progress the events take: copying them is quick beside re-encoding frames.
constexpr double kEventsShare = 0.2;

// offset + pts, or nothing when it lies before the event clock's zero or beyond it.
std::optional<uint64_t> eventTime(int64_t offset, uint64_t pts)
{
    int64_t t = 0;
    if (pts > uint64_t(INT64_MAX) || __builtin_add_overflow(offset, int64_t(pts), &t) || t < 0)
        return std::nullopt;
    return uint64_t(t);
}

std::string span(uint64_t first, uint64_t last)
{
    return "[" + std::to_string(first) + ", " + std::to_string(last) + "]";
}

// The calibration at path, read whole; nullopt when there is none. False, with error set, when
// it is there but cannot be read.
bool readCalibration(const std::string& path, std::optional<std::string>& text, std::string& error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return true;
        error = "cannot read the calibration " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat status {};
    bool ok = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size <= kMaxCalibrationBytes;
    if (!ok) {
        error = "the calibration " + path + " is not a regular file of at most 16 MiB";
    } else {
        std::string bytes(size_t(status.st_size), '\0');
        int readError = 0;
        ok = readAt(fd, 0, reinterpret_cast<uint8_t*>(bytes.data()), bytes.size(), readError) == bytes.size();
        if (ok)
            text = std::move(bytes);
        else
            error = "cannot read the calibration " + path;
    }
    ::close(fd);
    return ok;
}

// The whole calibration, on disk before the set is renamed into place.
bool writeSynced(int fd, const std::string& bytes)
{
    return writeAll(fd, bytes.data(), bytes.size()) && (::fsync(fd) == 0 || errno == EINVAL);
}

// The frame rate the frames were taken at, as the encoder's hint.
int frameRate(const std::vector<uint64_t>& pts)
{
    if (pts.size() < 2 || pts.back() <= pts.front())
        return 30;
    const double fps = double(pts.size() - 1) * 1e6 / double(pts.back() - pts.front());
    return std::clamp(int(std::lround(fps)), 1, 1000);
}

} // namespace

bool cutFusionSet(DvsFileReader& source, const std::string& sourcePath, uint64_t start, uint64_t end,
                  const std::string& out, ExistingFile existing, const ProgressCallback& progress,
                  const std::atomic<bool>& cancelled, std::string& error)
{
    error.clear();
    const auto refuse = [&](const std::string& why) {
        error = "cannot cut " + sourcePath + ": " + why;
        SV_LOG_ERROR("%s", error.c_str());
        return false;
    };
    const FusionSetPaths input = fusionSetPaths(sourcePath);
    const FusionSetPaths output = fusionSetPaths(out);
    if (output.raw != out)
        return refuse("the cut of a set is a set, so " + out + " must end in .raw");
    if (start > end)
        return refuse("start " + std::to_string(start) + " lies after end " + std::to_string(end));
    if (cancelled.load())
        return refuse("cancelled");

    uint64_t first = 0;
    uint64_t last = 0;
    if (!source.getStartTimestamp(first) || !source.getEndTimestamp(last))
        return refuse("it holds no events");
    if (start > last || end < first)
        return refuse("the range " + span(start, end) + " lies outside the set, which spans " + span(first, last));
    DvsFileInfo info;
    source.getFileInfo(info);

    auto video = ApsFileReader::createFileReader(input.video);
    std::vector<uint64_t> pts;
    if (!video || !video->getFrameTimestamps(pts))
        return refuse("its frames " + input.video + " cannot be read");
    size_t from = 0;
    while (from < pts.size() && eventTime(info.apsTimeOffset, pts[from]).value_or(0) < start)
        ++from;
    size_t to = from;
    while (to < pts.size() && eventTime(info.apsTimeOffset, pts[to]).value_or(UINT64_MAX) <= end)
        ++to;
    if (from == to) {
        const auto firstFrame = eventTime(info.apsTimeOffset, pts.front());
        const auto lastFrame = eventTime(info.apsTimeOffset, pts.back());
        return refuse("no frame lies in " + span(start, end) + "; the frames lie in "
                      + (firstFrame && lastFrame ? span(*firstFrame, *lastFrame) : std::string("no time of the events"))
                      + " (--events-only cuts the events alone)");
    }
    const uint64_t newOffset = *eventTime(info.apsTimeOffset, pts[from]);
    std::optional<std::string> calibration;
    if (!readCalibration(input.calibration, calibration, error))
        return refuse(error);

    // All three are begun, and so checked, before anything is written.
    SafeOutput rawOut;
    SafeOutput videoOut;
    SafeOutput calibrationOut;
    const OutputSource origin{sourcePath, -1};
    std::string problem;
    if (!rawOut.begin(output.raw, existing, origin, problem) || !videoOut.begin(output.video, existing, origin, problem)
        || (calibration && !calibrationOut.begin(output.calibration, existing, origin, problem)))
        return refuse(problem);
    // A set without calibration gives one without: an old OUT.json would pass for it.
    struct stat stale {};
    const bool staleCalibration = !calibration && ::lstat(output.calibration.c_str(), &stale) == 0;
    if (staleCalibration && (existing != ExistingFile::Replace || !S_ISREG(stale.st_mode)))
        return refuse(output.calibration + (S_ISREG(stale.st_mode) ? std::string(SafeOutput::kExistsAlready)
                                                                   : " exists and is not a regular file"));
    if (calibration && !writeSynced(calibrationOut.temporaryFd(), *calibration))
        return refuse("cannot write " + output.calibration + ": " + std::strerror(errno));

    // The events. A cancel reaches the reader through its progress; it is undone afterwards so
    // that the window's reader goes on working.
    bool cancelledSource = false;
    source.setProgressCallback([&](double fraction) {
        if (progress)
            progress(fraction * kEventsShare);
        if (cancelled.load() && !cancelledSource) {
            cancelledSource = true;
            source.cancel();
        }
    });
    const bool eventsCut = source.exportEventDataTo(start, end, rawOut, {{"apsTimeOffset", std::to_string(newOffset)}});
    source.setProgressCallback({});
    if (cancelledSource)
        source.resetCancel();
    if (!eventsCut)
        return refuse(cancelled.load() ? "cancelled" : source.lastError());

    // The frames, decoded and encoded again with their times.
    Mp4FrameWriter writer;
    Mp4FrameWriter::Options options;
    options.timestamped = true;
    options.into = &videoOut;
    // Encoding is most of a cut's time: ultrafast is about twice as fast as veryfast at the same
    // quality factor, for a larger file.
    options.preset = "ultrafast";
    if (!writer.open(output.video, video->getWidth(), video->getHeight(), frameRate(pts), options))
        return refuse("cannot write " + output.video);
    if (!video->seekFrame(int64_t(from)))
        return refuse("cannot decode " + input.video);
    int shown = -1;
    ApsFrame frame;
    while (video->getNextFrame(frame)) {
        if (cancelled.load())
            return refuse("cancelled");
        const std::optional<uint64_t> at = eventTime(info.apsTimeOffset, frame.getTimestamp());
        if (!at || *at > end)
            break;
        if (*at < newOffset)
            continue;
        if (!writer.writeFrame(frame.data(), *at - newOffset))
            return refuse("cannot write " + output.video);
        const int percent = int(100 * (kEventsShare + (1 - kEventsShare) * double(writer.framesWritten()) / double(to - from)));
        if (progress && percent != shown) {
            shown = percent;
            progress(percent / 100.0);
        }
    }
    const int64_t written = writer.framesWritten();
    if (written == 0)
        return refuse("none of its frames in " + span(start, end) + " can be decoded");
    if (!writer.close())
        return refuse("cannot write " + output.video);

    // The events last: a set is known by its .raw.
    if ((calibration && !calibrationOut.commit(problem)) || !videoOut.commit(problem) || !rawOut.commit(problem))
        return refuse(problem);
    if (staleCalibration)
        ::unlink(output.calibration.c_str());
    if (progress)
        progress(1);
    SV_LOG_INFO("cut %s %s into %s: %lld frames", sourcePath.c_str(), span(start, end).c_str(), out.c_str(),
                static_cast<long long>(written));
    return true;
}

} // namespace sorvane
