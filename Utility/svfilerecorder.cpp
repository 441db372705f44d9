#include "Utility/svfilerecorder.h"

#include "app/ConfigStore.h"

#include <SorvaneBase/Logger.h>

#include <QDebug>

#include <chrono>

SvFileRecorder::SvFileRecorder(std::shared_ptr<sorvane::DvsCamera> camera_, QObject* parent)
    : QObject(parent), camera(std::move(camera_))
{
    registerSvMetaTypes();
}

SvFileRecorder::~SvFileRecorder()
{
    {
        std::lock_guard lock(waitMutex);
        isRecording.store(false);
    }
    stopRequested.notify_all();
    if (recordThread.joinable())
        recordThread.join();
    camera.reset();
}

void SvFileRecorder::setCamera(std::shared_ptr<sorvane::DvsCamera> camera_)
{
    camera = std::move(camera_);
}

bool SvFileRecorder::recordingTime(uint32_t sec, QString file_path)
{
    const bool connected = camera && camera->isConnected();
    if (isRecording.load() || !connected || sec == 0) {
        qDebug() << "Recording false." << isRecording.load() << connected << " " << sec;
        if (isRecording.load())
            emit signalShowLeftBottomTips(tr("Currently being recorded."), Warning, file_path);
        return false;
    }
    if (recordThread.joinable())
        recordThread.join();
    emit signalShowLeftBottomTips(tr("Recording file ... "), Success, file_path);
    qDebug() << "record time : " << sec << "file path: " << file_path;
    // Counts as running from here: a second trigger before the worker starts is refused.
    isRecording.store(true);
    recordThread = std::thread(&SvFileRecorder::recordFor, this, camera, file_path, sec);
    return true;
}

void SvFileRecorder::recordFor(std::shared_ptr<sorvane::DvsCamera> recorded, QString path, uint32_t sec)
{
    SV_LOG_INFO("recording start");
    if (!recorded->startRecording(path.toLocal8Bit().toStdString())) {
        // The camera refused (an unwritable folder, a lost connection): say so instead of
        // reporting a recording that does not exist.
        SV_LOG_ERROR("recording %s could not start", path.toLocal8Bit().constData());
        emit signalShowLeftBottomTips(tr("Recording failed."), Error, path);
        isRecording.store(false);
        return;
    }
    const auto t0 = std::chrono::steady_clock::now();
    {
        std::unique_lock lock(waitMutex);
        while (isRecording.load()) {
            const auto elapsed = std::chrono::steady_clock::now() - t0;
            if (uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() / 1000000000) >= sec)
                break;
            stopRequested.wait_for(lock, std::chrono::milliseconds(500));
        }
    }
    recorded->stopRecording();
    SV_LOG_INFO("recording end");
    emit signalShowLeftBottomTips(tr("Recording end"), Success, QString());
    isRecording.store(false);
}

bool SvFileRecorder::startRecording(QString file_path)
{
    if (!camera || isRecording.load())
        return false;
    if (!camera->startRecording(file_path.toLocal8Bit().toStdString()))
        return false;
    isRecording.store(true);
    return true;
}

bool SvFileRecorder::stopRecording()
{
    if (!camera || !isRecording.load())
        return false;
    {
        std::lock_guard lock(waitMutex);
        isRecording.store(false);
    }
    stopRequested.notify_all();
    // A timed recording's worker wakes at once and tells the camera to stop once more.
    camera->stopRecording();
    return true;
}

void SvFileRecorder::setCacheTime(int sec)
{
    if (!camera)
        return;
    camera->setRecordCacheTime(uint16_t(sec & 0xFFFF), ConfigStore::instance()->configDir.toLocal8Bit().toStdString());
    cacheEnabled = sec != 0;
}
