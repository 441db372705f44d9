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
    stopRecording();
    if (recordThread.joinable())
        recordThread.join();
    camera.reset();
}

void SvFileRecorder::setCamera(std::shared_ptr<sorvane::DvsCamera> camera_)
{
    camera = std::move(camera_);
}

bool SvFileRecorder::recordingTime(uint32_t sec, QString file_path, std::optional<uint64_t> from)
{
    const bool connected = camera && camera->isConnected();
    if (isRecording.load() || !connected || sec == 0) {
        qDebug() << "Recording false." << isRecording.load() << connected << " " << sec;
        if (isRecording.load())
            emit signalShowLeftBottomTips(tr("Currently being recorded."), Warning, file_path);
        return false;
    }
    emit signalShowLeftBottomTips(tr("Recording file ... "), Success, file_path);
    qDebug() << "record time : " << sec << "file path: " << file_path;
    startWorker(file_path, sec, from);
    return true;
}

bool SvFileRecorder::startRecording(QString file_path)
{
    if (isRecording.load() || !camera)
        return false;
    startWorker(file_path, std::nullopt, std::nullopt);
    return true;
}

void SvFileRecorder::startWorker(QString path, std::optional<uint32_t> sec, std::optional<uint64_t> from)
{
    // The last worker has finished its file (it was no longer recording): this does not wait.
    if (recordThread.joinable())
        recordThread.join();
    {
        std::lock_guard lock(waitMutex);
        stopWanted = false;
    }
    // Counts as running from here: a second trigger before the worker starts is refused.
    isRecording.store(true);
    recordThread = std::thread(&SvFileRecorder::recordFor, this, camera, path, sec, from);
}

void SvFileRecorder::recordFor(std::shared_ptr<sorvane::DvsCamera> recorded, QString path, std::optional<uint32_t> sec,
                               std::optional<uint64_t> from)
{
    SV_LOG_INFO("recording start");
    const std::string target = path.toLocal8Bit().toStdString();
    if (!(from ? recorded->startRecordingFrom(target, *from) : recorded->startRecording(target))) {
        // The camera refused (an unwritable folder, a lost connection): say so instead of
        // reporting a recording that does not exist.
        SV_LOG_ERROR("recording %s could not start", path.toLocal8Bit().constData());
        emit signalShowLeftBottomTips(tr("Recording failed."), Error, path);
        isRecording.store(false);
        return;
    }
    {
        std::unique_lock lock(waitMutex);
        if (sec)
            stopRequested.wait_until(lock, std::chrono::steady_clock::now() + std::chrono::seconds(*sec),
                                     [this] { return stopWanted; });
        else
            stopRequested.wait(lock, [this] { return stopWanted; });
    }
    recorded->stopRecording();
    SV_LOG_INFO("recording end");
    emit signalShowLeftBottomTips(tr("Recording end"), Success, QString());
    isRecording.store(false);
}

bool SvFileRecorder::stopRecording()
{
    if (!isRecording.load())
        return false;
    {
        std::lock_guard lock(waitMutex);
        stopWanted = true;
    }
    stopRequested.notify_all();
    return true;
}

void SvFileRecorder::setCacheTime(int sec)
{
    if (!camera)
        return;
    camera->setRecordCacheTime(uint16_t(sec & 0xFFFF), ConfigStore::instance()->configDir.toLocal8Bit().toStdString());
    cacheEnabled = sec != 0;
}
