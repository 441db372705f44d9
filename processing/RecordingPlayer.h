#pragma once
// The slots a window drives a recording's playback with, the same for every kind of recording:
// each checks that the recording is free for it, tells the play button when it pauses playback,
// and hands the command to the transport. The kinds of recording build and show the images.
#include "SorvaneDriver/Raw/EventRegion.h"
#include "processing/PlaybackTransport.h"

#include <QObject>
#include <QRect>

#include <cstdint>
#include <mutex>
#include <optional>

class RecordingPlayer : public QObject, protected PlaybackOwner {
    Q_OBJECT
public:
    explicit RecordingPlayer(QObject* parent = nullptr) : QObject(parent) {}

    // Recording time between two played (and exported) frames.
    uint64_t frameStep() const { return transport.frameStep(); }
    // Only the events inside region (pixels of the image) are shown from now on; a null region
    // shows them all. A paused recording shows the change at once.
    void setShownRegion(const QRect& region);
    // The events of region's pixels; none (all events) for a null region.
    static std::optional<sorvane::EventRegion> eventRegionOf(const QRect& region);

public slots:
    void slotPlaybackCtrl(bool play);
    // Pauses, and shows the range start.
    void slotPlaybackReset();
    void preFrame();
    void nextFrame();
    void setPlayPos(uint64_t timestamp_us);
    void slotSetLowerTimeStamp(uint64_t timestamp_us);
    void slotSetUpperTimeStamp(uint64_t timestamp_us);
    // A value of 0 or below keeps the previous frame step (the slow rate's lowest step reads 0).
    void setFps(int framesPerSecond);
    void setAccTime(uint64_t time_us);

signals:
    void signalPlayStatus(bool playing);

protected:
    // A recording is open, loaded and free for playback commands.
    virtual bool playbackUsable() const = 0;
    // Pauses a running playback for a step or a jump, and tells the play button.
    void pauseForCommand();
    // After a change of how images are painted: a paused recording shows its image again.
    void showAgainIfPaused();
    std::optional<sorvane::EventRegion> shownRegion() const;

    PlaybackTransport transport{*this};

private:
    // Guards region, set on the GUI thread and read where images are built.
    mutable std::mutex regionMutex;
    std::optional<sorvane::EventRegion> region;
};
