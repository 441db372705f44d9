#include "processing/PlaybackTransport.h"

#include <algorithm>

namespace {

// t moved by step within [lower, upper], without overflow.
uint64_t ahead(uint64_t t, uint64_t step, uint64_t upper)
{
    return upper > t && upper - t > step ? t + step : upper;
}

uint64_t back(uint64_t t, uint64_t step, uint64_t lower)
{
    return t > lower && t - lower > step ? t - step : lower;
}

} // namespace

PlaybackTransport::PlaybackTransport(PlaybackOwner& owner_) : owner(owner_) {}

PlaybackTransport::~PlaybackTransport()
{
    stop();
}

void PlaybackTransport::start()
{
    std::lock_guard lock(mutex);
    if (thread.joinable())
        return;
    running = true;
    thread = std::thread(&PlaybackTransport::loop, this);
}

void PlaybackTransport::stop()
{
    {
        std::lock_guard lock(mutex);
        running = false;
        playing = false;
        pending.reset();
        task = nullptr;
    }
    wake.notify_all();
    if (thread.joinable())
        thread.join();
}

void PlaybackTransport::open(uint64_t lowerEnd, uint64_t upperEnd)
{
    {
        std::lock_guard lock(mutex);
        ++generation;
        opened = true;
        playing = false;
        pending.reset();
        lower = lowerEnd;
        upper = std::max(lowerEnd, upperEnd);
        at = lowerEnd;
    }
    wake.notify_all();
}

void PlaybackTransport::close()
{
    {
        std::lock_guard lock(mutex);
        ++generation;
        opened = false;
        playing = false;
        pending.reset();
    }
    wake.notify_all();
}

void PlaybackTransport::runOnThread(std::function<void()> next)
{
    {
        std::lock_guard lock(mutex);
        task = std::move(next);
    }
    wake.notify_all();
}

bool PlaybackTransport::play()
{
    {
        std::lock_guard lock(mutex);
        if (!opened)
            return false;
        playing = true;
    }
    wake.notify_all();
    return true;
}

bool PlaybackTransport::pause()
{
    bool was = false;
    {
        std::lock_guard lock(mutex);
        was = playing;
        playing = false;
    }
    wake.notify_all();
    return was;
}

bool PlaybackTransport::isPlaying() const
{
    std::lock_guard lock(mutex);
    return playing;
}

void PlaybackTransport::request(uint64_t t)
{
    at = t;
    playing = false;
    pending = Request{t, generation};
}

void PlaybackTransport::stepForward()
{
    {
        std::lock_guard lock(mutex);
        const uint64_t from = std::max(at, lower);
        if (!opened || from >= upper)
            return;
        request(ahead(from, step, upper));
    }
    wake.notify_all();
}

void PlaybackTransport::stepBack()
{
    {
        std::lock_guard lock(mutex);
        if (!opened)
            return;
        request(back(std::min(at, upper), step, lower));
    }
    wake.notify_all();
}

void PlaybackTransport::jumpTo(uint64_t t)
{
    {
        std::lock_guard lock(mutex);
        if (!opened || t < lower || t > upper)
            return;
        request(t);
    }
    wake.notify_all();
}

void PlaybackTransport::reset()
{
    {
        std::lock_guard lock(mutex);
        if (!opened)
            return;
        request(lower);
    }
    wake.notify_all();
}

void PlaybackTransport::setLoop(bool enabled)
{
    std::lock_guard lock(mutex);
    looping = enabled;
}

void PlaybackTransport::setLowerBound(uint64_t t)
{
    std::lock_guard lock(mutex);
    lower = t;
}

void PlaybackTransport::setUpperBound(uint64_t t)
{
    std::lock_guard lock(mutex);
    upper = t;
}

void PlaybackTransport::setFps(int framesPerSecond)
{
    if (framesPerSecond <= 0)
        return;
    std::lock_guard lock(mutex);
    step = std::max<uint64_t>(1, 1'000'000 / uint64_t(framesPerSecond));
}

void PlaybackTransport::setAccumulation(uint64_t microseconds)
{
    std::lock_guard lock(mutex);
    window = microseconds;
}

uint64_t PlaybackTransport::position() const
{
    return locked(at);
}

uint64_t PlaybackTransport::lowerBound() const
{
    return locked(lower);
}

uint64_t PlaybackTransport::upperBound() const
{
    return locked(upper);
}

uint64_t PlaybackTransport::frameStep() const
{
    return locked(step);
}

uint64_t PlaybackTransport::accumulation() const
{
    return locked(window);
}

bool PlaybackTransport::runPending()
{
    std::unique_lock lock(mutex);
    if (!pending)
        return false;
    const Request next = *pending;
    pending.reset();
    serve(lock, next);
    return true;
}

bool PlaybackTransport::playOne()
{
    std::unique_lock lock(mutex);
    if (!playing)
        return false;
    playFrame(lock, std::chrono::steady_clock::now());
    return true;
}

bool PlaybackTransport::interrupted() const
{
    return !running || !playing || pending || task;
}

// The playback thread lives as long as the transport: it runs the owner's tasks, builds the
// images steps and jumps ask for, and plays while playing is set.
void PlaybackTransport::loop()
{
    std::unique_lock lock(mutex);
    while (running) {
        if (task) {
            const std::function<void()> next = std::move(task);
            task = nullptr;
            lock.unlock();
            next();
            lock.lock();
            continue;
        }
        if (pending) {
            const Request next = *pending;
            pending.reset();
            serve(lock, next);
            continue;
        }
        if (!playing) {
            wake.wait(lock, [this] { return !running || playing || pending || task; });
            continue;
        }
        // Fixed pace measured from the start of the iteration; a pause, a step or a task ends
        // the wait.
        const auto iterationStart = std::chrono::steady_clock::now();
        playFrame(lock, iterationStart + kPresentAt);
        wake.wait_until(lock, iterationStart + kPeriod, [this] { return interrupted(); });
    }
}

void PlaybackTransport::serve(std::unique_lock<std::mutex>& lock, const Request& request)
{
    const uint64_t accumulationNow = window;
    lock.unlock();
    const bool built = owner.buildImage(request.t, accumulationNow);
    lock.lock();
    if (!built)
        return;
    // A newer request, or another recording, makes this image stale.
    const bool stale = request.generation != generation || pending;
    lock.unlock();
    if (stale)
        owner.dropImage();
    else
        owner.showImage(request.t);
    lock.lock();
}

void PlaybackTransport::playFrame(std::unique_lock<std::mutex>& lock, std::chrono::steady_clock::time_point presentAt)
{
    const uint64_t playGeneration = generation;
    const uint64_t t = ahead(std::max(at, lower), step, upper);
    const bool ended = t >= upper;
    const uint64_t accumulationNow = window;
    lock.unlock();
    const bool built = owner.buildImage(t, accumulationNow);
    lock.lock();
    wake.wait_until(lock, presentAt, [this] { return interrupted(); });
    if (playGeneration != generation || !playing) {
        // Paused, or another recording, meanwhile: a resume builds the image again.
        if (built) {
            lock.unlock();
            owner.dropImage();
            lock.lock();
        }
        return;
    }
    at = ended ? lower : t;
    const bool finished = ended && !looping;
    if (finished)
        playing = false;
    lock.unlock();
    if (built)
        owner.showImage(t);
    if (finished)
        owner.playbackFinished();
    lock.lock();
}
