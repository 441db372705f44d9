// The camera side of the main window: searching and opening cameras, the Play button for a
// live camera, the polling loop, the status-bar statistics, trigger-in recording, connection
// loss and the shutdown of a camera when the window closes.
#include "app/MainWidget.h"

#include "Utility/svfilerecorder.h"
#include "app/CamerasList.h"
#include "app/ConfigStore.h"
#include "app/RecordingNames.h"
#include "processing/SvEventProcessor.h"
#include "processing/SvFusionCameraDataProcessor.h"
#include "processing/WorkerThread.h"
#include "ui_MainWidget.h"
#include "widgets/SvEventRateStrip.h"
#include "widgets/WaitingWin.h"

#include <QDateTime>
#include <QDebug>
#include <QMenu>
#include <QTimer>

#include <numeric>

namespace {

QString bandwidthPart(const sorvane::SvStatisticInfo& info)
{
    return MainWidget::tr(" Bandwidth: ") + QString::number(double(info.bandwidth) / 1048576.0, 'f', 1) + " MB/s ";
}

QString eventRatePart(const sorvane::SvStatisticInfo& info)
{
    return MainWidget::tr(" Events: ") + QString::number(double(info.eventRate) / 1000000.0, 'f', 1) + " MEv/s ";
}

} // namespace

QString MainWidget::statisticsText(const sorvane::SvStatisticInfo& info)
{
    return bandwidthPart(info) + eventRatePart(info);
}

void MainWidget::initCameraSide()
{
    for (QAction* action : deviceMenu->actions()) {
        if (action->text() == textOpenCamera)
            connect(action, &QAction::triggered, this, &MainWidget::slotOpenCamera);
    }
    // No parent: the window deletes it itself, after the cameras are stopped.
    fileRecorder = new SvFileRecorder(nullptr);
    connect(fileRecorder, &SvFileRecorder::signalShowLeftBottomTips, this,
            qOverload<QString, SvMessageType, QString>(&MainWidget::slotShowLeftBottomTips), Qt::QueuedConnection);
    // Emitted by the acquisition thread; the frame is committed on this thread.
    connect(this, &MainWidget::triggerEventsToShow, this, &MainWidget::getEventsToShow, Qt::QueuedConnection);
}

void MainWidget::shutdownCameraSide()
{
    // A recording running at close is finished, so its file is complete.
    stopCameraRecordings();
    if (ui->pb_play->isChecked()) {
        if (sourceMode == LiveDvsCamera && dvsCamera) {
            stopDvsLoop();
            dvsCamera->stop();
            qDebug() << "stop camera.";
        } else if (sourceMode == LiveFusionCamera && fusionCamera) {
            fusionCamera->stop(sorvane::STREAM_ALL);
            streaming = false;
            qDebug() << "Fusion camera stop.";
        }
    }
    // Also a loop that ended on a lost connection, or runs with the button released by Space.
    stopDvsLoop();
    if (dvsCamera)
        dvsCamera->stop();
    // The window is going away: the recording's files are complete before the cameras close.
    if (finishThread.joinable())
        finishThread.join();
    if (fusionCamera) {
        // Also a stream that lost its connection or runs with the button released by Space:
        // no callback may reach the fusion processor after this.
        fusionCamera->stop(sorvane::STREAM_ALL);
        if (fusionCamera->isConnected())
            fusionCamera->close();
        fusionProcessor->setFusionCamera(nullptr);
    }
    dvsCamera.reset();
    fusionCamera.reset();
    delete fileRecorder;
    fileRecorder = nullptr;
}

void MainWidget::slotOpenCamera()
{
    if (ui->pb_play->isChecked())
        ui->pb_play->click();
    qDebug() << "Search cameras ...";
    const std::vector<sorvane::CameraDescription> descs = cameraManager.getCameraDescs();
    qDebug() << "Search end ... find: " << descs.size();

    CamerasList list(descs, this);
    if (list.exec() != QDialog::Accepted)
        return;
    int index = -1;
    if (list.getSelectedIndex(index) && index < int(descs.size()))
        openCamera(descs[size_t(index)]);
}

bool MainWidget::openCameraBySerial(const QString& serial)
{
    for (const sorvane::CameraDescription& desc : cameraManager.getCameraDescs()) {
        if (QString::fromStdString(desc.serial) == serial) {
            if (ui->pb_play->isChecked())
                ui->pb_play->click();
            openCamera(desc);
            return true;
        }
    }
    emit signalShowLeftBottomTips(tr("No camera with the serial %1 is attached.").arg(serial), Error, QString());
    return false;
}

void MainWidget::openCamera(const sorvane::CameraDescription& desc)
{
    releaseCameraForOtherSource();
    emit signalOpenRawFile(QString());
    emit signalOpenFusionFile(QString());
    openRecording.clear();
    qDebug() << "Select camera: " << QString::fromStdString(desc.serial)
             << " product: " << QString::fromStdString(desc.product);
    if (desc.product == "Orion4" || desc.product == "Vesper")
        sourceMode = LiveDvsCamera;
    else if (desc.product == "Tandem")
        sourceMode = LiveFusionCamera;
    else
        sourceMode = NoSource;

    // Before the camera streams: the fusion processor would otherwise keep the type it had for
    // the camera before.
    showViewerTypeOfSource();
    clearRegion();

    rateStrip->clear();
    liveEvents = 0;
    liveRateTimer->start();

    WaitingWin waiting(ui->widget_show_image);
    WorkerThread worker([this, desc] { openCameraProcedure(desc); });
    connect(&worker, &WorkerThread::taskCompleted, &waiting, &WaitingWin::finish, Qt::QueuedConnection);
    worker.start(QThread::InheritPriority);
    waiting.exec();
    worker.wait();
    showCameraToolsInSettings();
}

void MainWidget::openCameraProcedure(const sorvane::CameraDescription& desc)
{
    const QString serial = QString::fromStdString(desc.serial);
    if (sourceMode == LiveDvsCamera) {
        dvsCamera.reset();
        dvsCamera = cameraManager.openCamera(desc.serial);
        if (!dvsCamera) {
            emit signalShowLeftBottomTips(tr("Open camera: ") + serial + tr("failed."), Error, QString());
            return;
        }
        dvsCamera->setStatisticInfoCallback([this](const sorvane::SvStatisticInfo& info) { showStatistics(info); });
        // The recorder and the trigger handler belong to the GUI thread; it waits for this
        // worker in the waiting window's loop, so it runs the settings meanwhile.
        QMetaObject::invokeMethod(this, &MainWidget::initDvsCameraSettings, Qt::BlockingQueuedConnection);
    } else if (sourceMode == LiveFusionCamera) {
        fusionProcessor->clearFusionState();
        fusionProcessor->setFusionCamera(nullptr);
        fusionCamera.reset();
        qDebug() << "Open fusion camera.";
        fusionCamera = cameraManager.openFusionCamera(desc.serial);
        if (!fusionCamera) {
            emit signalShowLeftBottomTips(tr("Open camera: ") + serial + tr("failed."), Error, QString());
            return;
        }
        // Before the frame callback: the calibrator must not change under a mapping.
        sorvane::CalibratorParameters calibration;
        if (fusionCamera->getCalibratorParameters(calibration))
            fusionProcessor->setCalibrationParameters(calibration);
        fusionCamera->setStatisticInfoCallback([this](const sorvane::SvStatisticInfo& info) { showStatistics(info); });
        SvFusionCameraDataProcessor* processor = fusionProcessor;
        fusionCamera->addApsFrameCallback([processor](sorvane::ApsFrame& frame) { processor->addApsFrame(frame); });
        fusionCamera->addEventsCallback([this, processor](const sorvane::Event2D* begin, const sorvane::Event2D* end) {
            liveEvents.fetch_add(uint64_t(end - begin), std::memory_order_relaxed);
            processor->addDvsEvents(begin, end);
        });
        fusionCamera->addTriggerInCallback(
            [processor](sorvane::EventTriggerIn trigger) { processor->addSyncSignal(trigger); });
        fusionProcessor->setFusionCamera(fusionCamera);
    }
    emit setShowCameraLiveUI(true);
    emit resetShowCameraFormTitle(true);
    emit toShowCameraSerial(serial);
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!ui->pb_play->isChecked())
                ui->pb_play->click();
        },
        Qt::QueuedConnection);
}

void MainWidget::initDvsCameraSettings()
{
    if (!dvsCamera)
        return;
    if (triggerInCallbackId != 0xFFFFFFFF) {
        dvsCamera->removeTriggerInCallback(triggerInCallbackId);
        triggerInCallbackId = 0xFFFFFFFF;
        dropPendingTriggers();
    }
    fileRecorder->setCamera(dvsCamera);
    dvsCamera->setRecordCacheTime(0, ".");
    if (config->triggerInRecEnable) {
        dvsCamera->setRecordCacheTime(uint16_t(std::min(config->beforeTriggerInSaveTime, ConfigStore::maxTriggerInSeconds)),
                                      config->configDir.toLocal8Bit().toStdString());
        // The serial and the edge are taken now: the handler runs on the camera's thread, and a
        // saved edge re-arms it through this function.
        const QString serial = QString::fromStdString(dvsCamera->getDvsDesc().serial);
        const QString edge = config->triggerInRecEdgeType;
        triggerInCallbackId = dvsCamera->addTriggerInCallback(
            [this, serial, edge](sorvane::EventTriggerIn trigger) { onTriggerIn(trigger, serial, edge); });
    }
}

void MainWidget::onTriggerIn(const sorvane::EventTriggerIn& trigger, const QString& serial, const QString& edge)
{
    const bool matches = (edge == "Rising Edge" && trigger.polarity == 0) || (edge == "Falling Edge" && trigger.polarity == 1);
    if (!matches)
        return;
    QMetaObject::invokeMethod(
        this, [this, time = trigger.timestamp, serial, arming = triggerArming.load()] { recordTrigger(time, serial, arming); },
        Qt::QueuedConnection);
}

void MainWidget::recordTrigger(uint64_t triggerTime, const QString& serial, uint64_t arming)
{
    // Disarmed, stopped or replaced since the edge came: nothing of that stream is recorded now.
    if (arming != triggerArming.load())
        return;
    // The seconds kept before the edge count from its own time: a busy GUI thread must not
    // shorten them.
    const uint64_t before = uint64_t(config->beforeTriggerInSaveTime) * 1000000;
    const QString path = recordingBase(config->outputRawFilePath, serial, QDateTime::currentDateTime(), {".raw"}) + ".raw";
    fileRecorder->recordingTime(config->afterTriggerInSaveTime, path, triggerTime > before ? triggerTime - before : 0);
}

void MainWidget::dropPendingTriggers()
{
    triggerArming.fetch_add(1);
}

void MainWidget::showStatistics(const sorvane::SvStatisticInfo& info)
{
    // Called on the camera's thread; the label is set on the GUI thread.
    const QString bandwidth = bandwidthPart(info);
    const QString rate = eventRatePart(info);
    QMetaObject::invokeMethod(
        this,
        [this, bandwidth, rate] {
            // A report still queued when a recording replaced the camera is not the recording's.
            if (sourceMode == LiveDvsCamera || sourceMode == LiveFusionCamera)
                ui->lb_status_bar->setText(bandwidth + rate);
        },
        Qt::QueuedConnection);
}

void MainWidget::showRecordingStatistics(const QList<quint64>& counts, uint64_t first, uint64_t last)
{
    if ((sourceMode != RawFile && sourceMode != FusionFile) || last <= first) {
        ui->lb_status_bar->setText(idleStatusText);
        return;
    }
    const double seconds = double(last - first) / 1e6;
    const double events = std::accumulate(counts.begin(), counts.end(), 0.0);
    ui->lb_status_bar->setText(statisticsText(
        sorvane::SvStatisticInfo(uint64_t(double(recordingBytes) / seconds), uint64_t(events / seconds))));
}

void MainWidget::getEventsToShow()
{
    eventProcessor->showEvents();
}

void MainWidget::slotSetBatchEventsTime(uint64_t time_us)
{
    batchEventsTime = time_us;
    if (dvsCamera)
        dvsCamera->setBatchEventsTime(time_us);
    qDebug() << "set dvs time interval: " << time_us;
}

void MainWidget::on_pb_play_clicked(bool checked)
{
    if (sourceMode == LiveDvsCamera) {
        if (!dvsCamera || !dvsCamera->isConnected()) {
            qDebug() << "Please connect camera first.";
            ui->pb_play->setChecked(false);
            return;
        }
        if (!checked) {
            stopDvsLoop();
            ui->pb_play->setChecked(false);
            dvsCamera->stop();
            dropPendingTriggers();
            qDebug() << "stop camera.";
            return;
        }
        // Space flips the button without touching the stream: a click then finds it running.
        if (streaming) {
            ui->pb_play->setChecked(true);
            return;
        }
        if (acquisitionThread.joinable())
            acquisitionThread.join();
        if (dvsCamera->start() != 0) {
            qDebug() << "Please check the camera connection.";
            ui->pb_play->setChecked(false);
            return;
        }
        dvsCamera->setBatchEventsTime(batchEventsTime);
        startDvsStream();
        ui->pb_play->setChecked(true);
    } else if (sourceMode == LiveFusionCamera) {
        if (!fusionCamera || !fusionCamera->isConnected()) {
            qDebug() << "Please connect camera first.";
            ui->pb_play->setChecked(false);
            return;
        }
        if (!streaming) {
            if (fusionCamera->start(sorvane::STREAM_ALL) != 0) {
                qDebug() << "Please check the camera connection.";
                ui->pb_play->setChecked(false);
                return;
            }
            streaming = true;
            ui->pb_play->setChecked(true);
            qDebug() << "Fusion camera start";
        } else {
            fusionCamera->stop(sorvane::STREAM_ALL);
            streaming = false;
            ui->pb_play->setChecked(false);
            qDebug() << "Fusion camera stop.";
            fusionProcessor->clearFusionState();
        }
    }
}

void MainWidget::startDvsStream()
{
    streaming = true;
    acquisitionThread = std::thread([this, camera = dvsCamera] {
        runDvsAcquisitionLoop(*camera, streaming, acquisition, [this](const std::vector<sorvane::Event2D>& batch) {
            liveEvents.fetch_add(batch.size(), std::memory_order_relaxed);
            eventProcessor->accumulateEvents(batch.data(), batch.data() + batch.size());
            emit triggerEventsToShow();
        });
    });
}

void MainWidget::stopDvsLoop()
{
    streaming = false;
    if (acquisitionThread.joinable())
        acquisitionThread.join();
}

void MainWidget::on_pb_viewer_type_clicked()
{
    viewerType = (viewerType + 1) % 3;
    applyViewerTypeIcons(viewerType);
    emit signalSetViewerShowType(sorvane::STREAM_TYPE(viewerType));
}

void MainWidget::stopCameraRecordings()
{
    if (recording)
        finishCameraRecording();
    if (fileRecorder && fileRecorder->recording())
        fileRecorder->stopRecording();
}

void MainWidget::releaseCameraForOtherSource()
{
    stopCameraRecordings();
    if (ui->pb_play->isChecked() && (sourceMode == LiveDvsCamera || sourceMode == LiveFusionCamera))
        ui->pb_play->click();
    stopDvsLoop();
    if (dvsCamera)
        dvsCamera->stop();
    if (fusionCamera && streaming) {
        fusionCamera->stop(sorvane::STREAM_ALL);
        streaming = false;
    }
    if (fusionCamera) {
        fusionProcessor->clearFusionState();
        fusionProcessor->setFusionCamera(nullptr);
    }
    dropPendingTriggers();
    // Trigger-in recordings come from the camera of this source only.
    fileRecorder->setCamera(nullptr);
}
