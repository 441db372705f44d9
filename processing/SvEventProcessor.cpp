#include "processing/SvEventProcessor.h"

#include "app/ConfigStore.h"

#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using sorvane::Event2D;

namespace {

// Emitted images kept for reuse: the view holds at most one or two at a time.
constexpr size_t maxSpareImages = 3;

struct Rgb888 {
    uint8_t r, g, b;
};

Rgb888 toRgb888(const QColor& colour)
{
    const QRgb rgb = colour.rgb();
    return {uint8_t(qRed(rgb)), uint8_t(qGreen(rgb)), uint8_t(qBlue(rgb))};
}

// Bits 0-3: which of the four pixels at counts (8 entries) are painted positive; bits 4-7:
// which are painted negative. Polarity 1 wins ties; a pixel without events is neither.
inline int classifyFour(const uint16_t* counts)
{
#if defined(__SSE2__)
    const __m128i pairs = _mm_loadu_si128(reinterpret_cast<const __m128i*>(counts));
    const __m128i count0 = _mm_and_si128(pairs, _mm_set1_epi32(0xFFFF));
    const __m128i count1 = _mm_srli_epi32(pairs, 16);
    const __m128i negative = _mm_cmpgt_epi32(count0, count1);
    const __m128i positive = _mm_andnot_si128(negative, _mm_cmpgt_epi32(count1, _mm_setzero_si128()));
    return _mm_movemask_ps(_mm_castsi128_ps(positive)) | (_mm_movemask_ps(_mm_castsi128_ps(negative)) << 4);
#else
    int code = 0;
    for (int i = 0; i < 4; ++i) {
        const uint16_t count0 = counts[2 * i];
        const uint16_t count1 = counts[2 * i + 1];
        if (count1 > 0 && count1 >= count0)
            code |= 1 << i;
        else if (count0 > count1)
            code |= 16 << i;
    }
    return code;
#endif
}

inline void putPixel(uchar* line, int x, Rgb888 colour)
{
    uchar* p = line + 3 * x;
    p[0] = colour.r;
    p[1] = colour.g;
    p[2] = colour.b;
}

} // namespace

SvEventProcessor::SvEventProcessor(QObject* parent)
    : QObject(parent)
    , frameImage(frameWidth, frameHeight, QImage::Format_RGB888)
    , backCounts(std::make_unique<CountPlane>(planeSize, 0))
    , frontCounts(std::make_unique<CountPlane>(planeSize, 0))
{
    // Same names as main, so the store lands in the same folder whoever opens it first.
    QCoreApplication::setApplicationName("SorvaneViewer");
    QCoreApplication::setOrganizationName("Sorvane");
    config = ConfigStore::instance();
    registerSvMetaTypes();
    frameImage.fill(config->backgroundColor);

    // Set before the thread starts, so a destructor that runs at once cannot be overtaken.
    renderRunning = true;
    renderThread = std::thread(&SvEventProcessor::renderLoop, this);
}

SvEventProcessor::~SvEventProcessor()
{
    {
        std::lock_guard lock(frameMutex);
        renderRunning = false;
    }
    frameReady.notify_all();
    renderThread.join();
}

void SvEventProcessor::accumulateEvents(const Event2D* begin, const Event2D* end)
{
    if (begin >= end)
        return;
    std::lock_guard lock(planeMutex);
    uint16_t* counts = backCounts->data();
    // One pass, no per-event locking: the plane lock is taken once per batch.
#pragma GCC unroll 4
    for (const Event2D* e = begin; e != end; ++e) {
        const unsigned x = e->x;
        const unsigned polarity = e->polarity;
        const unsigned index = (e->y * unsigned(frameWidth) + x) * 2u + polarity;
        // x is checked on its own: x = 1280 would otherwise land in the next row. With x in
        // range, the index bound checks y.
        if (__builtin_expect(x < unsigned(frameWidth), 1) && __builtin_expect(index < planeSize, 1)
            && __builtin_expect(polarity < 2u, 1)) {
            uint16_t& count = counts[index];
            if (count < countCap)
                ++count;
        }
    }
    lastBatchTimestamp.store(begin->timestamp, std::memory_order_relaxed);
}

void SvEventProcessor::showEvents()
{
    emit signalRealTimeTimeStamp(lastBatchTimestamp.load(std::memory_order_relaxed));
    commitFrame();
}

void SvEventProcessor::commitFrame()
{
    std::unique_lock frameLock(frameMutex);
    std::lock_guard planeLock(planeMutex);
    std::swap(backCounts, frontCounts);
    frameCommitted = true;
    frameLock.unlock();
    frameReady.notify_one();
    // The render thread only reads frontCounts, so clearing needs the plane lock alone.
    std::fill(backCounts->begin(), backCounts->end(), uint16_t(0));
}

void SvEventProcessor::renderLoop()
{
    std::unique_lock lock(frameMutex);
    for (;;) {
        // The flag makes a commit or a stop made while painting wake the next wait at once.
        frameReady.wait(lock, [this] { return frameCommitted || !renderRunning; });
        if (!renderRunning)
            return;
        frameCommitted = false;
        prepareFrameImage();
        paintFrame(*frontCounts, frameImage, config->positiveColor, config->negativeColor,
                   config->backgroundColor);
        emit signalEventImage(frameImage);
    }
}

void SvEventProcessor::prepareFrameImage()
{
    if (frameImage.isDetached())
        return;
    for (QImage& spare : spareImages) {
        if (spare.isDetached()) {
            // Pairs with the release of the last receiver's reference.
            std::atomic_thread_fence(std::memory_order_acquire);
            std::swap(spare, frameImage);
            return;
        }
    }
    if (spareImages.size() < maxSpareImages)
        spareImages.push_back(frameImage);
    frameImage = QImage(frameWidth, frameHeight, QImage::Format_RGB888);
}

void SvEventProcessor::paintFrame(const CountPlane& counts, QImage& image, QColor positive,
                                  QColor negative, QColor background)
{
    if (image.size() != QSize(frameWidth, frameHeight) || image.format() != QImage::Format_RGB888)
        image = QImage(frameWidth, frameHeight, QImage::Format_RGB888);
    const Rgb888 colours[3] = {toRgb888(background), toRgb888(positive), toRgb888(negative)};

    // Every pixel is written once with its final colour, so the background fill and the painting
    // are one pass. Four pixels at a time: their classes (background, positive, negative) pick
    // one of the prepared 12-byte runs.
    struct alignas(16) Run {
        uchar bytes[16];
    };
    std::array<Run, 256> runs{};
    for (int code = 0; code < 256; ++code) {
        for (int i = 0; i < 4; ++i) {
            const bool isPositive = code & (1 << i);
            const bool isNegative = code & (16 << i);
            putPixel(runs[code].bytes, i, colours[isPositive ? 1 : isNegative ? 2 : 0]);
        }
    }

    uchar* const bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    constexpr int groupsPerRow = frameWidth / 4;
    for (int y = 0; y < frameHeight; ++y) {
        uchar* line = bits + y * stride;
        const uint16_t* row = counts.data() + size_t(y) * frameWidth * 2;
        // A 16-byte store is cheaper than 12; its last 4 bytes are rewritten by the next group.
        for (int group = 0; group + 1 < groupsPerRow; ++group)
            std::memcpy(line + 12 * group, runs[classifyFour(row + 8 * group)].bytes, 16);
        const int last = groupsPerRow - 1;
        std::memcpy(line + 12 * last, runs[classifyFour(row + 8 * last)].bytes, 12);
    }
}
