#include "SorvaneDriver/Video/ApsFileReader.h"

#include "SorvaneDriver/Video/FfmpegSupport.h"

#include "SorvaneBase/Logger.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sorvane {

namespace {

// Decodes one video stream of a container. Frames are numbered in presentation order; the
// packet scan at open gives every frame's time and where the keyframes are, so positioning is a
// container seek to the keyframe before the wanted frame and decoding forward from there.
class FfmpegApsFileReader final : public ApsFileReader {
public:
    ~FfmpegApsFileReader() override
    {
        sws_freeContext(converter);
        av_packet_free(&packet);
        av_frame_free(&bgr);
        av_frame_free(&decoded);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }

    bool open(const std::string& filePath)
    {
        path = filePath;
        setUpFfmpeg();
        // Only a regular file: a FIFO or a device named like a set's video would hold the
        // demuxer forever. The file checked is the one FFmpeg opens, through our descriptor.
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        struct stat status {};
        if (fd < 0 || ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
            SV_LOG_ERROR("cannot open video %s: %s", path.c_str(),
                         fd < 0 ? std::strerror(errno) : "not a regular file");
            if (fd >= 0)
                ::close(fd);
            return false;
        }
        const std::string viaDescriptor = "/proc/self/fd/" + std::to_string(fd);
        const std::string source = ::access(viaDescriptor.c_str(), R_OK) == 0 ? "file:" + viaDescriptor : path;
        int result = avformat_open_input(&format, source.c_str(), nullptr, nullptr);
        ::close(fd);
        if (result < 0) {
            SV_LOG_ERROR("cannot open video %s: %s", path.c_str(), ffmpegError(result).c_str());
            return false;
        }
        result = avformat_find_stream_info(format, nullptr);
        if (result < 0) {
            SV_LOG_ERROR("cannot read the streams of %s: %s", path.c_str(), ffmpegError(result).c_str());
            return false;
        }
        const AVCodec* decoder = nullptr;
        streamIndex = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
        if (streamIndex < 0 || !decoder) {
            SV_LOG_ERROR("%s holds no decodable video stream", path.c_str());
            return false;
        }
        stream = format->streams[streamIndex];
        codec = avcodec_alloc_context3(decoder);
        if (!codec || avcodec_parameters_to_context(codec, stream->codecpar) < 0) {
            SV_LOG_ERROR("cannot set up the decoder of %s", path.c_str());
            return false;
        }
        // One decoding thread: frame threads would hold back several frames after every seek,
        // and one thread decodes a 1280 x 720 stream many times faster than it is played.
        codec->thread_count = 1;
        result = avcodec_open2(codec, decoder, nullptr);
        if (result < 0) {
            SV_LOG_ERROR("cannot open the %s decoder of %s: %s", decoder->name, path.c_str(),
                         ffmpegError(result).c_str());
            return false;
        }
        width = stream->codecpar->width;
        height = stream->codecpar->height;
        if (width <= 0 || height <= 0) {
            SV_LOG_ERROR("video of %s has no picture size", path.c_str());
            return false;
        }
        decoded = av_frame_alloc();
        packet = av_packet_alloc();
        if (!decoded || !packet)
            return false;
        if (!scanPackets())
            return false;
        if (!rewind())
            return false;
        opened = true;
        SV_LOG_INFO("opened video %s: %dx%d, %zu frames, %s", path.c_str(), width, height,
                    framePts.size(), decoder->name);
        return true;
    }

    bool isOpen() override { return opened; }

    bool seekFrame(int64_t index) override
    {
        if (!opened || index < 0 || index >= frameCount()) {
            SV_LOG_ERROR("no frame %lld in %s", static_cast<long long>(index), path.c_str());
            return false;
        }
        return positionAt(index);
    }

    bool getFrameTimestamps(std::vector<uint64_t>& timestamps) override
    {
        if (!opened)
            return false;
        timestamps.clear();
        timestamps.reserve(framePts.size());
        for (int64_t pts : framePts)
            timestamps.push_back(toMicroseconds(pts));
        return true;
    }

    bool getNextFrame(ApsFrame& frame) override
    {
        if (!opened)
            return false;
        if (!holding && !decodeNext())
            return false;
        holding = false;
        return convert(frame);
    }

    bool getFrameByTime(uint64_t t, ApsFrame& frame) override
    {
        if (!opened || frameCount() == 0)
            return false;
        const int64_t target = t > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(t);
        // Last frame whose time <= t; frame times are compared in µs, as the caller sees them.
        auto after = std::upper_bound(frameMicros.begin(), frameMicros.end(), target);
        if (after == frameMicros.begin())
            return false;
        if (!positionAt(int64_t(after - frameMicros.begin()) - 1))
            return false;
        holding = false;
        return convert(frame);
    }

private:
    int64_t frameCount() const { return int64_t(framePts.size()); }

    uint64_t toMicroseconds(int64_t pts) const
    {
        const int64_t us = av_rescale_q(pts, stream->time_base, MicrosecondTimeBase);
        return us > 0 ? uint64_t(us) : 0;
    }

    // Reads every packet once: the presentation times (sorted, as frames come out of the
    // decoder) and the keyframes' decode times, which are what container seeks take.
    bool scanPackets()
    {
        int64_t previous = AV_NOPTS_VALUE;
        const AVRational rate = stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
        const int64_t frameDuration = rate.num > 0 ? std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate), stream->time_base)) : 1;
        for (;;) {
            const int result = av_read_frame(format, packet);
            if (result == AVERROR_EOF)
                break;
            if (result < 0) {
                // A damaged tail: keep the frames read so far.
                SV_LOG_ERROR("reading %s stopped early: %s", path.c_str(), ffmpegError(result).c_str());
                break;
            }
            if (packet->stream_index == streamIndex) {
                int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
                if (pts == AV_NOPTS_VALUE)
                    pts = previous == AV_NOPTS_VALUE ? 0 : previous + frameDuration;
                previous = pts;
                framePts.push_back(pts);
                if (packet->flags & AV_PKT_FLAG_KEY)
                    keyframes.push_back({pts, packet->dts != AV_NOPTS_VALUE ? packet->dts : pts});
            }
            av_packet_unref(packet);
        }
        if (framePts.empty()) {
            SV_LOG_ERROR("%s holds no video frames", path.c_str());
            return false;
        }
        std::sort(framePts.begin(), framePts.end());
        framePts.erase(std::unique(framePts.begin(), framePts.end()), framePts.end());
        frameMicros.reserve(framePts.size());
        for (int64_t pts : framePts)
            frameMicros.push_back(int64_t(toMicroseconds(pts)));
        for (auto& key : keyframes)
            key.index = indexOfPts(key.pts);
        std::sort(keyframes.begin(), keyframes.end(),
                  [](const Keyframe& a, const Keyframe& b) { return a.index < b.index; });
        return true;
    }

    int64_t indexOfPts(int64_t pts) const
    {
        auto it = std::upper_bound(framePts.begin(), framePts.end(), pts);
        return it == framePts.begin() ? 0 : int64_t(it - framePts.begin()) - 1;
    }

    bool rewind()
    {
        const int64_t first = keyframes.empty() ? 0 : std::min_element(keyframes.begin(), keyframes.end(),
            [](const Keyframe& a, const Keyframe& b) { return a.dts < b.dts; })->dts;
        if (av_seek_frame(format, streamIndex, first, AVSEEK_FLAG_BACKWARD) < 0
            && avformat_seek_file(format, -1, INT64_MIN, 0, INT64_MAX, 0) < 0) {
            SV_LOG_ERROR("cannot go back to the start of %s", path.c_str());
            return false;
        }
        restartDecoding(0);
        return true;
    }

    void restartDecoding(int64_t firstIndex)
    {
        avcodec_flush_buffers(codec);
        draining = false;
        holding = false;
        nextIndex = firstIndex;
    }

    // Decodes the frame after the last one; false at the end of the stream.
    bool decodeNext()
    {
        for (;;) {
            int result = avcodec_receive_frame(codec, decoded);
            if (result == 0) {
                const int64_t pts = decoded->best_effort_timestamp;
                auto it = pts == AV_NOPTS_VALUE ? framePts.end()
                                                : std::lower_bound(framePts.begin(), framePts.end(), pts);
                decodedIndex = it != framePts.end() && *it == pts ? int64_t(it - framePts.begin()) : nextIndex;
                nextIndex = decodedIndex + 1;
                return true;
            }
            if (result == AVERROR_EOF)
                return false;
            if (result != AVERROR(EAGAIN)) {
                SV_LOG_ERROR("decoding %s failed: %s", path.c_str(), ffmpegError(result).c_str());
                return false;
            }
            if (draining)
                return false;
            result = av_read_frame(format, packet);
            if (result < 0) {
                draining = true;
                avcodec_send_packet(codec, nullptr);
                continue;
            }
            if (packet->stream_index == streamIndex) {
                result = avcodec_send_packet(codec, packet);
                // A damaged packet costs its frame, not the rest of the video.
                if (result < 0 && result != AVERROR(EAGAIN))
                    SV_LOG_ERROR("skipped a damaged packet of %s: %s", path.c_str(), ffmpegError(result).c_str());
            }
            av_packet_unref(packet);
        }
    }

    // Leaves frame index decoded and held, so the next getNextFrame returns it.
    bool positionAt(int64_t index)
    {
        if (holding && decodedIndex == index)
            return true;
        // Decoding forward is cheaper than a seek unless a keyframe lies on the way.
        const Keyframe* key = keyframeAtOrBefore(index);
        const bool forward = index >= nextIndex && (!key || key->index <= nextIndex);
        if (!forward) {
            bool sought = false;
            if (key) {
                sought = av_seek_frame(format, streamIndex, key->dts, AVSEEK_FLAG_BACKWARD) >= 0;
                if (sought)
                    restartDecoding(key->index);
            }
            if (!sought && !rewind())
                return false;
        }
        for (int attempt = 0; attempt < 2; ++attempt) {
            while (decodeNext()) {
                if (decodedIndex == index) {
                    holding = true;
                    return true;
                }
                if (decodedIndex > index)
                    break; // the seek landed after the frame: start over from the beginning
            }
            if (attempt == 0 && !rewind())
                return false;
        }
        SV_LOG_ERROR("cannot decode frame %lld of %s", static_cast<long long>(index), path.c_str());
        holding = false;
        return false;
    }

    struct Keyframe {
        int64_t pts;
        int64_t dts;
        int64_t index = 0;
    };

    const Keyframe* keyframeAtOrBefore(int64_t index) const
    {
        auto it = std::upper_bound(keyframes.begin(), keyframes.end(), index,
                                   [](int64_t value, const Keyframe& key) { return value < key.index; });
        return it == keyframes.begin() ? nullptr : &*(it - 1);
    }

    bool convert(ApsFrame& frame)
    {
        converter = sws_getCachedContext(converter, decoded->width, decoded->height,
                                         AVPixelFormat(decoded->format), width, height,
                                         AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!converter) {
            SV_LOG_ERROR("cannot convert the frames of %s", path.c_str());
            return false;
        }
        const int matrix = decoded->colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_DEFAULT;
        const int fullRange = decoded->color_range == AVCOL_RANGE_JPEG ? 1 : 0;
        if (converter != configuredConverter || matrix != configuredMatrix || fullRange != configuredRange) {
            sws_setColorspaceDetails(converter, sws_getCoefficients(matrix), fullRange,
                                     sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
            configuredConverter = converter;
            configuredMatrix = matrix;
            configuredRange = fullRange;
        }
        // swscale writes whole vector blocks past the end of a row, so it fills padded rows and
        // the frame gets a copy.
        if (!bgr) {
            bgr = av_frame_alloc();
            if (bgr) {
                bgr->format = AV_PIX_FMT_BGR24;
                bgr->width = width;
                bgr->height = height;
            }
            if (!bgr || av_frame_get_buffer(bgr, 0) < 0) {
                av_frame_free(&bgr);
                SV_LOG_ERROR("no memory for the frames of %s", path.c_str());
                return false;
            }
        }
        sws_scale(converter, decoded->data, decoded->linesize, 0, decoded->height, bgr->data, bgr->linesize);
        ApsFrame out(width, height, uint64_t(decodedIndex),
                     decodedIndex < frameCount() ? uint64_t(frameMicros[size_t(decodedIndex)]) : 0);
        const size_t rowBytes = size_t(width) * 3;
        for (int y = 0; y < height; ++y)
            std::memcpy(out.data() + size_t(y) * rowBytes, bgr->data[0] + size_t(y) * size_t(bgr->linesize[0]), rowBytes);
        frame = out;
        return true;
    }

    std::string path;
    bool opened = false;
    AVFormatContext* format = nullptr;
    AVStream* stream = nullptr;
    int streamIndex = -1;
    AVCodecContext* codec = nullptr;
    AVFrame* decoded = nullptr;
    AVFrame* bgr = nullptr; // converted picture, padded rows
    AVPacket* packet = nullptr;
    SwsContext* converter = nullptr;
    // The colour matrix and range converter was last set up for.
    const SwsContext* configuredConverter = nullptr;
    int configuredMatrix = -1;
    int configuredRange = -1;

    std::vector<int64_t> framePts;    // presentation order, stream time base
    std::vector<int64_t> frameMicros; // the same in µs
    std::vector<Keyframe> keyframes;  // by frame index

    bool draining = false;
    bool holding = false;   // decoded holds frame decodedIndex, not yet returned
    int64_t decodedIndex = -1;
    int64_t nextIndex = 0;  // frame the decoder gives next
};

} // namespace

std::unique_ptr<ApsFileReader> ApsFileReader::createFileReader(const std::string& path)
{
    if (path.empty()) {
        SV_LOG_ERROR("no video path given");
        return nullptr;
    }
    auto reader = std::make_unique<FfmpegApsFileReader>();
    if (!reader->open(path))
        return nullptr;
    return reader;
}

} // namespace sorvane
