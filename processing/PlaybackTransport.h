#pragma once
// Plays a recording frame by frame for an owner that builds and shows the images: the one
// playback thread, its fixed pace, the position, the range, the loop, and the steps and jumps
// the user asks for. The image at position t shows the events of (t - accumulation, t].
//
// Range rules: playing moves the position by the frame step, and the last frame lies exactly at
// the upper end; after it the position goes back to the lower end, and playback stops unless it
// loops. A step back stops at the lower end, a step ahead at the upper one; a jump outside the
// range is ignored.
//
// Threads: commands come from one thread (the GUI's). Images are built and shown on the playback
// thread; before start() (in tests) runPending() and playOne() do that work on the caller's.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

class PlaybackOwner {
public:
    virtual ~PlaybackOwner() = default;
    // Builds the image at t from the events of (t - accumulation, t]; false when nothing could be
    // read. Runs without any lock of the transport held.
    virtual bool buildImage(uint64_t t, uint64_t accumulation) = 0;
    // Shows the image built last, as position t.
    virtual void showImage(uint64_t t) = 0;
    // Forgets the image built last: playback paused or another request came meanwhile.
    virtual void dropImage() = 0;
    // Playback stopped by itself after the frame at the upper end; the position is back at the
    // lower end.
    virtual void playbackFinished() = 0;
};

class PlaybackTransport {
public:
    // Wall-clock period of one played frame, and when within it the frame is shown: frames go
    // out on a fixed beat, so the varying time of a read does not shake the frame rate.
    static constexpr std::chrono::microseconds kPeriod{33333};
    static constexpr std::chrono::microseconds kPresentAt{kPeriod / 2};

    explicit PlaybackTransport(PlaybackOwner& owner);
    ~PlaybackTransport();
    PlaybackTransport(const PlaybackTransport&) = delete;
    PlaybackTransport& operator=(const PlaybackTransport&) = delete;

    void start();
    // Stops and joins the playback thread; what was pending is dropped. The owner calls it before
    // anything buildImage uses goes away.
    void stop();

    // A recording whose frames lie in [lower, upper], positioned at lower. Images of the one
    // before that are still being built are dropped.
    void open(uint64_t lower, uint64_t upper);
    // Nothing to play any more; pending images are dropped.
    void close();
    // Runs task on the playback thread before any further image (the owner opens its recordings
    // there, so that no file is read on the GUI thread). A task not yet started is replaced.
    void runOnThread(std::function<void()> task);

    // False when nothing is open.
    bool play();
    // True when it was playing.
    bool pause();
    bool isPlaying() const;
    void stepForward();
    void stepBack();
    void jumpTo(uint64_t t);
    // Pauses, goes to the lower end and shows it.
    void reset();

    void setLoop(bool enabled);
    void setLowerBound(uint64_t t);
    void setUpperBound(uint64_t t);
    // Frames a second of recording time; 0 or below keeps the step as it is.
    void setFps(int framesPerSecond);
    void setAccumulation(uint64_t microseconds);

    uint64_t position() const;
    uint64_t lowerBound() const;
    uint64_t upperBound() const;
    uint64_t frameStep() const;
    uint64_t accumulation() const;

    // Without the thread: builds and shows the step or jump asked for last (false: none), or
    // plays one frame at once (false: not playing).
    bool runPending();
    bool playOne();

private:
    struct Request {
        uint64_t t;
        uint64_t generation;
    };

    void loop();
    // Request servicing and one played frame; lock is held on entry and on return.
    void serve(std::unique_lock<std::mutex>& lock, const Request& request);
    void playFrame(std::unique_lock<std::mutex>& lock, std::chrono::steady_clock::time_point presentAt);
    void request(uint64_t t);
    bool interrupted() const;
    // A member's value, read under the lock.
    template <typename T>
    T locked(const T& member) const
    {
        std::lock_guard lock(mutex);
        return member;
    }

    PlaybackOwner& owner;
    // Guards every member below and the pacing waits.
    mutable std::mutex mutex;
    std::condition_variable wake;
    bool running = false;
    bool opened = false;
    bool playing = false;
    bool looping = false;
    // Counts recordings opened and closed, so that an image of the previous one is dropped.
    uint64_t generation = 0;
    uint64_t at = 0;
    uint64_t lower = 0;
    uint64_t upper = 0;
    uint64_t step = 1'000'000 / 33;
    uint64_t window = 33333;
    std::optional<Request> pending;
    std::function<void()> task;
    std::thread thread;
};
