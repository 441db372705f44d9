#pragma once
// Timed recordings of a DVS camera, started by trigger-in edges: the camera begins the file with
// its pre-trigger cache, this object decides how long to go on after the trigger. Calls come
// from the thread that owns the object (the GUI thread); each recording, from its start to its
// complete file, runs on recordThread, so the caller never waits for the disk.
#include "app/SvMessageType.h"
#include "SorvaneDriver/DvsCamera.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class SvFileRecorder : public QObject {
    Q_OBJECT
public:
    explicit SvFileRecorder(std::shared_ptr<sorvane::DvsCamera> camera, QObject* parent = nullptr);
    ~SvFileRecorder() override; // ends a running recording and waits for its file

    // The camera the next recordings come from; null when there is none (another source).
    void setCamera(std::shared_ptr<sorvane::DvsCamera> camera);
    // True from a recording's start until its file is complete.
    bool recording() const { return isRecording.load(); }

    // Records for sec seconds from now into file_path; the file begins at camera time from
    // when given (the cached seconds before a trigger), else with the whole cache. False, with a
    // warning tip while a recording runs, when it cannot start.
    bool recordingTime(uint32_t sec, QString file_path, std::optional<uint64_t> from = std::nullopt);
    // Records into file_path until stopRecording(). False while a recording runs or without a
    // camera.
    bool startRecording(QString file_path);
    // Ends the running recording early and returns at once; "Recording end" follows when the
    // file is complete. False when none runs.
    bool stopRecording();
    void setCacheTime(int sec);

signals:
    void signalShowLeftBottomTips(QString tips, SvMessageType type = Success, QString file_path = QString());

private:
    // Worker of one recording: sec seconds, or until stopped when none is given.
    void recordFor(std::shared_ptr<sorvane::DvsCamera> recorded, QString path, std::optional<uint32_t> sec,
                   std::optional<uint64_t> from);
    void startWorker(QString path, std::optional<uint32_t> sec, std::optional<uint64_t> from);

    std::shared_ptr<sorvane::DvsCamera> camera;
    bool cacheEnabled = false;
    std::atomic<bool> isRecording{false};
    std::thread recordThread;
    // Guards stopWanted, so that a stop wakes the worker at once.
    std::mutex waitMutex;
    std::condition_variable stopRequested;
    bool stopWanted = false;
};
