#include "processing/RecordingPlayer.h"

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
