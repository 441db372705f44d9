#pragma once
// Timed recordings of a DVS camera, started by trigger-in edges: the camera begins the file with
// its pre-trigger cache, this object decides how long to go on after the trigger. Slots run on
// the thread that owns the object (the GUI thread); each timed recording runs on recordThread.
#include "app/SvMessageType.h"
#include "SorvaneDriver/DvsCamera.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class SvFileRecorder : public QObject {
    Q_OBJECT
public:
    explicit SvFileRecorder(std::shared_ptr<sorvane::DvsCamera> camera, QObject* parent = nullptr);
    ~SvFileRecorder() override;

    void setCamera(std::shared_ptr<sorvane::DvsCamera> camera);
    bool recording() const { return isRecording.load(); }

signals:
    void signalShowLeftBottomTips(QString tips, SvMessageType type = Success, QString file_path = QString());

public slots:
    bool recordingTime(uint32_t sec, QString file_path);
    bool startRecording(QString file_path);
    bool stopRecording();
    void setCacheTime(int sec);

private:
    void recordFor(std::shared_ptr<sorvane::DvsCamera> recorded, QString path, uint32_t sec);

    std::shared_ptr<sorvane::DvsCamera> camera;
    bool cacheEnabled = false;
    std::atomic<bool> isRecording{false};
    std::thread recordThread;
    // Guards nothing but the worker's wait, so that a stop wakes it at once.
    std::mutex waitMutex;
    std::condition_variable stopRequested;
};
