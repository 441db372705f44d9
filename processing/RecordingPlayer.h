#pragma once
// The slots a window drives a recording's playback with, the same for every kind of recording:
// each checks that the recording is free for it, tells the play button when it pauses playback,
// and hands the command to the transport. The kinds of recording build and show the images.
#include "processing/PlaybackTransport.h"

#include <QObject>

#include <cstdint>

class RecordingPlayer : public QObject, protected PlaybackOwner {
    Q_OBJECT
public:
    explicit RecordingPlayer(QObject* parent = nullptr) : QObject(parent) {}

    // Recording time between two played (and exported) frames.
    uint64_t frameStep() const { return transport.frameStep(); }

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

    PlaybackTransport transport{*this};
};
