#include "processing/RecordingPlayer.h"

#include <algorithm>

void RecordingPlayer::pauseForCommand()
{
    if (transport.pause())
        emit signalPlayStatus(false);
}

void RecordingPlayer::slotPlaybackCtrl(bool play)
{
    if (!play) {
        transport.pause();
        return;
    }
    // Nothing to play: the button must not stay pressed.
    if (!playbackUsable() || !transport.play())
        emit signalPlayStatus(false);
}

void RecordingPlayer::slotPlaybackReset()
{
    if (!playbackUsable())
        return;
    transport.pause();
    transport.reset();
    emit signalPlayStatus(false);
}

void RecordingPlayer::preFrame()
{
    if (!playbackUsable())
        return;
    pauseForCommand();
    transport.stepBack();
}

void RecordingPlayer::nextFrame()
{
    if (!playbackUsable())
        return;
    pauseForCommand();
    transport.stepForward();
}

void RecordingPlayer::setPlayPos(uint64_t timestamp_us)
{
    if (!playbackUsable())
        return;
    pauseForCommand();
    transport.jumpTo(timestamp_us);
}

void RecordingPlayer::slotSetLowerTimeStamp(uint64_t timestamp_us)
{
    transport.setLowerBound(timestamp_us);
}

void RecordingPlayer::slotSetUpperTimeStamp(uint64_t timestamp_us)
{
    transport.setUpperBound(timestamp_us);
}

void RecordingPlayer::setFps(int framesPerSecond)
{
    transport.setFps(framesPerSecond);
}

void RecordingPlayer::setAccTime(uint64_t time_us)
{
    transport.setAccumulation(time_us);
}

void RecordingPlayer::setShownRegion(const QRect& shown)
{
    {
        std::lock_guard lock(regionMutex);
        region = eventRegionOf(shown);
    }
    showAgainIfPaused();
}

std::optional<sorvane::EventRegion> RecordingPlayer::shownRegion() const
{
    std::lock_guard lock(regionMutex);
    return region;
}

std::optional<sorvane::EventRegion> RecordingPlayer::eventRegionOf(const QRect& pixels)
{
    if (pixels.isNull())
        return std::nullopt;
    return sorvane::EventRegion{uint32_t(std::max(pixels.left(), 0)), uint32_t(std::max(pixels.top(), 0)),
                                uint32_t(std::max(pixels.right(), 0)), uint32_t(std::max(pixels.bottom(), 0))};
}

void RecordingPlayer::showAgainIfPaused()
{
    if (playbackUsable() && !transport.isPlaying())
        transport.jumpTo(transport.position());
}
