#include "SorvaneDriver/Video/Mp4FrameWriter.h"

#include "SorvaneDriver/Video/FfmpegSupport.h"

#include "SorvaneBase/Logger.h"
#include "SorvaneBase/SafeOutput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace sorvane {

namespace {

// A fragment reaches the disk when it is this long, even between keyframes.
constexpr int64_t FragmentUs = 500000;

// Creates path, failing when anything is there already: a live recording never replaces a file.
bool createExclusively(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        SV_LOG_ERROR("cannot create %s: %s", path.c_str(), std::strerror(errno));
        return false;
    }
    ::close(fd);
    return true;
}

} // namespace

struct Mp4FrameWriter::Impl {
    std::string targetPath;
    std::string writingPath; // the target itself for a fragmented video, else output's temporary
    SafeOutput output;
    Options options;
    int sourceWidth = 0;
    int sourceHeight = 0;
    int width = 0;
    int height = 0;
    int64_t frameCount = 0;
    int64_t lastPts = AV_NOPTS_VALUE;
    bool failed = false;
    std::string encoder;

    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    AVFrame* picture = nullptr;
    // The caller's pixels, copied into padded rows: swscale's vector code reads past the end
    // of a row, and a tightly packed caller buffer may end at an unmapped page.
    AVFrame* packed = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* converter = nullptr;

    ~Impl() { release(); }

    void release()
    {
        sws_freeContext(converter);
        converter = nullptr;
        av_packet_free(&packet);
        av_frame_free(&packed);
        av_frame_free(&picture);
        avcodec_free_context(&codec);
        if (format) {
            if (format->pb)
                avio_closep(&format->pb);
            avformat_free_context(format);
            format = nullptr;
        }
        stream = nullptr;
    }

    void removeWritten()
    {
        if (options.fragmented && !writingPath.empty()) {
            std::error_code ignored;
            std::filesystem::remove(writingPath, ignored);
        }
        output.discard();
    }

    bool openEncoder(const AVCodec* candidate, int fps)
    {
        codec = avcodec_alloc_context3(candidate);
        if (!codec)
            return false;
        codec->codec_id = candidate->id;
        codec->width = width;
        codec->height = height;
        codec->pix_fmt = AV_PIX_FMT_YUV420P;
        // swscale converts with the BT.601 matrix; untagged HD video would be shown as BT.709.
        codec->colorspace = AVCOL_SPC_SMPTE170M;
        codec->color_range = AVCOL_RANGE_MPEG;
        // MPEG-4 Part 2 allows no time base finer than 1/65535 s.
        const AVRational fine = candidate->id == AV_CODEC_ID_H264 ? MicrosecondTimeBase : AVRational{1, 50000};
        codec->time_base = options.timestamped ? fine : AVRational{1, fps};
        codec->framerate = AVRational{fps, 1};
        codec->gop_size = options.keyframeInterval > 0 ? options.keyframeInterval : fps;
        if (options.fragmented)
            codec->gop_size = std::min(codec->gop_size, fps);
        codec->thread_count = options.threads > 0 ? options.threads : 0;
        if (format->oformat->flags & AVFMT_GLOBALHEADER)
            codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

        AVDictionary* settings = nullptr;
        if (candidate->id == AV_CODEC_ID_H264) {
            av_dict_set(&settings, "preset", options.preset.c_str(), 0);
            av_dict_set_int(&settings, "crf", options.crf, 0);
            // A frame held back in the encoder (lookahead, B-frames, frame threads) is a frame a
            // killed recording loses.
            if (options.fragmented)
                av_dict_set(&settings, "tune", "zerolatency", 0);
        } else {
            // Fixed quantiser: flat event images stay sharp without a bit-rate guess.
            codec->flags |= AV_CODEC_FLAG_QSCALE;
            codec->global_quality = FF_QP2LAMBDA * 3;
            codec->max_b_frames = 0;
        }
        const int result = avcodec_open2(codec, candidate, &settings);
        av_dict_free(&settings);
        if (result < 0) {
            SV_LOG_ERROR("encoder %s refused %dx%d at %d fps: %s", candidate->name, width, height,
                         fps, ffmpegError(result).c_str());
            avcodec_free_context(&codec);
            return false;
        }
        encoder = candidate->name;
        return true;
    }

    // Sends frame (null drains) and writes every packet the encoder hands back.
    bool encode(AVFrame* frame)
    {
        int result = avcodec_send_frame(codec, frame);
        if (result < 0) {
            SV_LOG_ERROR("encoding a frame of %s failed: %s", targetPath.c_str(), ffmpegError(result).c_str());
            return false;
        }
        for (;;) {
            result = avcodec_receive_packet(codec, packet);
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
                return true;
            if (result < 0) {
                SV_LOG_ERROR("encoder of %s failed: %s", targetPath.c_str(), ffmpegError(result).c_str());
                return false;
            }
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            result = av_interleaved_write_frame(format, packet);
            if (result < 0) {
                SV_LOG_ERROR("writing %s failed: %s", writingPath.c_str(), ffmpegError(result).c_str());
                return false;
            }
        }
    }

    bool write(const uint8_t* pixels, int64_t pts)
    {
        if (failed)
            return false;
        if (av_frame_make_writable(picture) < 0) {
            SV_LOG_ERROR("no memory for a frame of %s", targetPath.c_str());
            failed = true;
            return false;
        }
        const size_t sourceStride = size_t(sourceWidth) * 3;
        for (int y = 0; y < height; ++y)
            std::memcpy(packed->data[0] + size_t(y) * size_t(packed->linesize[0]),
                        pixels + size_t(y) * sourceStride, size_t(width) * 3);
        sws_scale(converter, packed->data, packed->linesize, 0, height, picture->data, picture->linesize);
        picture->pts = pts;
        if (!encode(picture)) {
            failed = true;
            return false;
        }
        lastPts = pts;
        ++frameCount;
        return true;
    }
};

Mp4FrameWriter::Mp4FrameWriter() = default;

Mp4FrameWriter::~Mp4FrameWriter()
{
    discard();
}

bool Mp4FrameWriter::open(const std::string& path, int width, int height, int fps)
{
    return open(path, width, height, fps, Options{});
}

bool Mp4FrameWriter::open(const std::string& path, int width, int height, int fps, const Options& options)
{
    discard();
    setUpFfmpeg();
    if (path.empty()) {
        SV_LOG_ERROR("no path given for the video");
        return false;
    }
    if (width < 2 || height < 2 || fps <= 0 || fps > 1000) {
        SV_LOG_ERROR("cannot write a %dx%d video at %d fps to %s", width, height, fps, path.c_str());
        return false;
    }

    auto state = std::make_unique<Impl>();
    state->targetPath = path;
    if (options.into && (options.fragmented || options.into->temporaryPath().empty())) {
        SV_LOG_ERROR("cannot write the video %s into an output that is not begun", path.c_str());
        return false;
    }
    if (!options.fragmented && !options.into) {
        std::string problem;
        if (!state->output.begin(path, options.existing, {}, problem)) {
            SV_LOG_ERROR("cannot write the video: %s", problem.c_str());
            return false;
        }
    }
    state->writingPath = options.fragmented ? path
        : options.into                      ? options.into->temporaryPath()
                                            : state->output.temporaryPath();
    state->options = options;
    state->sourceWidth = width;
    state->sourceHeight = height;
    state->width = width & ~1;
    state->height = height & ~1;

    int result = avformat_alloc_output_context2(&state->format, nullptr, "mp4", state->writingPath.c_str());
    if (result < 0 || !state->format) {
        SV_LOG_ERROR("no mp4 muxer for %s: %s", path.c_str(), ffmpegError(result).c_str());
        return false;
    }

    const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
    const AVCodec* mpeg4 = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    if (!(h264 && state->openEncoder(h264, fps)) && !(mpeg4 && state->openEncoder(mpeg4, fps))) {
        SV_LOG_ERROR("no H.264 or MPEG-4 encoder available for %s", path.c_str());
        return false;
    }

    state->stream = avformat_new_stream(state->format, nullptr);
    if (!state->stream) {
        SV_LOG_ERROR("cannot add a video stream to %s", path.c_str());
        return false;
    }
    state->stream->time_base = state->codec->time_base;
    state->stream->avg_frame_rate = AVRational{fps, 1};
    if (!options.timestamped)
        state->stream->r_frame_rate = AVRational{fps, 1};
    result = avcodec_parameters_from_context(state->stream->codecpar, state->codec);
    if (result < 0) {
        SV_LOG_ERROR("cannot describe the video stream of %s: %s", path.c_str(), ffmpegError(result).c_str());
        return false;
    }

    if (options.fragmented && !createExclusively(path)) {
        state->writingPath.clear(); // not ours to remove
        return false;
    }
    result = avio_open(&state->format->pb, state->writingPath.c_str(), AVIO_FLAG_WRITE);
    if (result < 0) {
        SV_LOG_ERROR("cannot write %s: %s", state->writingPath.c_str(), ffmpegError(result).c_str());
        if (options.fragmented)
            state->removeWritten();
        return false;
    }
    AVDictionary* muxerSettings = nullptr;
    if (options.fragmented) {
        // An empty index up front, then self-contained fragments, each written out at once.
        av_dict_set(&muxerSettings, "movflags", "+frag_keyframe+empty_moov+default_base_moof", 0);
        av_dict_set_int(&muxerSettings, "frag_duration", FragmentUs, 0);
        state->format->flags |= AVFMT_FLAG_FLUSH_PACKETS;
        state->format->flush_packets = 1;
    } else {
        av_dict_set(&muxerSettings, "movflags", "+faststart", 0);
    }
    result = avformat_write_header(state->format, &muxerSettings);
    av_dict_free(&muxerSettings);
    if (result < 0) {
        SV_LOG_ERROR("cannot start %s: %s", state->writingPath.c_str(), ffmpegError(result).c_str());
        state->release();
        state->removeWritten();
        return false;
    }

    state->picture = av_frame_alloc();
    state->packed = av_frame_alloc();
    state->packet = av_packet_alloc();
    const AVPixelFormat sourceFormat =
        options.pixelOrder == PixelOrder::Bgr ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_RGB24;
    state->converter = sws_getContext(state->width, state->height, sourceFormat, state->width,
                                      state->height, AV_PIX_FMT_YUV420P, SWS_POINT | SWS_ACCURATE_RND, nullptr, nullptr,
                                      nullptr);
    if (state->picture && state->packed) {
        state->picture->format = AV_PIX_FMT_YUV420P;
        state->picture->width = state->width;
        state->picture->height = state->height;
        state->packed->format = sourceFormat;
        state->packed->width = state->width;
        state->packed->height = state->height;
    }
    if (!state->picture || !state->packed || !state->packet || !state->converter
        || av_frame_get_buffer(state->picture, 0) < 0 || av_frame_get_buffer(state->packed, 0) < 0) {
        SV_LOG_ERROR("no memory for the frames of %s", path.c_str());
        state->release();
        state->removeWritten();
        return false;
    }

    impl = std::move(state);
    SV_LOG_INFO("writing %s: %dx%d, %d fps, %s", path.c_str(), impl->width, impl->height, fps,
                impl->encoder.c_str());
    return true;
}

bool Mp4FrameWriter::writeFrame(const uint8_t* pixels)
{
    if (!impl || !pixels)
        return false;
    if (impl->options.timestamped) {
        SV_LOG_ERROR("%s takes timestamped frames", impl->targetPath.c_str());
        return false;
    }
    return impl->write(pixels, impl->frameCount);
}

bool Mp4FrameWriter::writeFrame(const uint8_t* pixels, uint64_t timestampUs)
{
    if (!impl || !pixels)
        return false;
    if (!impl->options.timestamped) {
        SV_LOG_ERROR("%s is a constant-rate video; frames take no timestamp", impl->targetPath.c_str());
        return false;
    }
    if (timestampUs > uint64_t(INT64_MAX) / 2) {
        SV_LOG_ERROR("frame at %llu us of %s lies beyond any video; dropped",
                     static_cast<unsigned long long>(timestampUs), impl->targetPath.c_str());
        return false;
    }
    const int64_t pts = av_rescale_q(int64_t(timestampUs), MicrosecondTimeBase, impl->codec->time_base);
    if (impl->lastPts != AV_NOPTS_VALUE && pts <= impl->lastPts) {
        SV_LOG_ERROR("frame at %llu us of %s is too close to the previous one; dropped",
                     static_cast<unsigned long long>(timestampUs), impl->targetPath.c_str());
        return false;
    }
    return impl->write(pixels, pts);
}

bool Mp4FrameWriter::writeFrame(const ApsFrame& frame)
{
    if (!impl)
        return false;
    if (frame.getWidth() != impl->sourceWidth || frame.getHeight() != impl->sourceHeight) {
        SV_LOG_ERROR("a %dx%d frame does not fit the %dx%d video %s", frame.getWidth(),
                     frame.getHeight(), impl->sourceWidth, impl->sourceHeight, impl->targetPath.c_str());
        return false;
    }
    return impl->options.timestamped ? writeFrame(frame.data(), frame.getTimestamp())
                                     : writeFrame(frame.data());
}

bool Mp4FrameWriter::close()
{
    if (!impl)
        return false;
    std::unique_ptr<Impl> state = std::move(impl);
    bool ok = !state->failed && state->encode(nullptr);
    if (ok) {
        const int result = av_write_trailer(state->format);
        if (result < 0) {
            SV_LOG_ERROR("cannot finish %s: %s", state->writingPath.c_str(), ffmpegError(result).c_str());
            ok = false;
        }
    }
    if (state->format->pb) {
        const bool ioError = state->format->pb->error < 0;
        if (avio_closep(&state->format->pb) < 0 || ioError) {
            SV_LOG_ERROR("writing %s failed", state->writingPath.c_str());
            ok = false;
        }
    }
    state->release();
    if (ok && !state->options.fragmented && !state->options.into) {
        std::string problem;
        if (!state->output.commit(problem)) {
            SV_LOG_ERROR("cannot move the video to %s: %s", state->targetPath.c_str(), problem.c_str());
            ok = false;
        }
    }
    if (!ok) {
        if (!state->options.fragmented)
            state->removeWritten();
        return false;
    }
    SV_LOG_INFO("wrote %s: %lld frames", state->targetPath.c_str(), static_cast<long long>(state->frameCount));
    return true;
}

void Mp4FrameWriter::discard()
{
    if (!impl)
        return;
    impl->release();
    impl->removeWritten();
    impl.reset();
}

bool Mp4FrameWriter::isOpen() const
{
    return impl != nullptr;
}

int64_t Mp4FrameWriter::framesWritten() const
{
    return impl ? impl->frameCount : 0;
}

int Mp4FrameWriter::encodedWidth() const
{
    return impl ? impl->width : 0;
}

int Mp4FrameWriter::encodedHeight() const
{
    return impl ? impl->height : 0;
}

std::string Mp4FrameWriter::encoderName() const
{
    return impl ? impl->encoder : std::string();
}

} // namespace sorvane
