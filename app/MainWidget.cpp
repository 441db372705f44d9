#include "app/MainWidget.h"

#include "Utility/SvCutRawFile.h"
#include "Utility/SvExportVideoUI.h"
#include "app/ConfigStore.h"
#include "app/InitDialog.h"
#include "app/RecordingNames.h"
#include "app/SavedImages.h"
#include "app/SvTimeFormat.h"
#include "processing/ShowImageForm.h"
#include "processing/SvGraphicsView.h"
#include "processing/SvEventProcessor.h"
#include "processing/SvFusionCameraDataProcessor.h"
#include "ui_MainWidget.h"
#include "widgets/SVMessageBox.h"
#include "widgets/SvEventRateStrip.h"
#include "widgets/OnScreen.h"
#include "widgets/SvFilePathReminderForm.h"
#include "widgets/SvStyleSheet.h"
#include "widgets/SvThreeHandleSlider.h"
#include "widgets/SvToolTip.h"
#include "widgets/WaitingWin.h"
#include "widgets/SvWindowAgent.h"

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QCursor>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QGraphicsDropShadowEffect>
#include <QGraphicsView>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QSysInfo>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <chrono>

namespace {

// The project's web page, opened from "About us". We have none yet: while it is empty the box
// shows the version and build and offers nothing to open.
const QString projectSite;

// A fusion set is opened through its .raw; its .mp4 names the same set.
QString recordingOfSet(const QString& path)
{
    const QFileInfo info(path);
    if (info.suffix().compare("mp4", Qt::CaseInsensitive) == 0) {
        const QString raw = QString("%1/%2.raw").arg(info.absolutePath(), info.completeBaseName());
        if (QFileInfo(raw).isFile()) {
            return raw;
        }
    }
    return path;
}

// Event recordings: the .raw encodings and the .dat container.
bool isRecordingFile(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix();
    return suffix.compare("raw", Qt::CaseInsensitive) == 0 || suffix.compare("dat", Qt::CaseInsensitive) == 0;
}

// The one local recording a drag carries, or an empty string.
QString droppedRecording(const QMimeData* mime)
{
    if (!mime->hasUrls() || mime->urls().size() != 1 || !mime->urls().first().isLocalFile()) {
        return {};
    }
    const QString path = recordingOfSet(mime->urls().first().toLocalFile());
    return isRecordingFile(path) ? path : QString();
}

const QString menuStyle = QStringLiteral(
    "QMenu{background-color: #FFFFFF; border: 1px solid #ACACAC; border-radius: 6px; padding: 6px 0px;}"
    "QMenu::item{color: #646464; padding: 7px 28px 7px 20px; font-size: 13px; background: transparent;}"
    "QMenu::item:selected{background-color: #D7E7EE; color: #004B6A;}"
    "QMenu::separator{height: 1px; background: #E6E6E6; margin: 4px 12px;}"
    "QMenu::indicator{width: 44px; height: 24px; padding-left: 8px;}"
    "QMenu::indicator:checked{image: url(:/img/assets/switch_on.png);}"
    "QMenu::indicator:unchecked{image: url(:/img/assets/switch_off.png);}");

QMenu* makeMenu(QWidget* owner)
{
    auto* menu = new QMenu(owner);
    menu->setWindowFlags(menu->windowFlags() | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint);
    menu->setAttribute(Qt::WA_TranslucentBackground);
    menu->setStyleSheet(menuStyle);
    return menu;
}

void addDropShadow(QWidget* widget)
{
    auto* shadow = new QGraphicsDropShadowEffect(widget);
    shadow->setOffset(0, 0);
    shadow->setBlurRadius(12);
    shadow->setColor(QColor(0, 0, 0, 40));
    widget->setGraphicsEffect(shadow);
}

bool isLiveSource(MainWidget::SourceMode mode)
{
    return mode == MainWidget::LiveDvsCamera || mode == MainWidget::LiveFusionCamera;
}

QString localTimeName()
{
    return QDateTime::currentDateTime().toString("yyyyMMdd_HHmmss");
}

} // namespace

MainWidget::MainWidget(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::Widget)
{
    ui->setupUi(this);

    windowAgent = new SvWindowAgent(this);
    windowAgent->setup(this);
    windowAgent->setTitleBar(ui->widget_title_space);
    windowAgent->setSystemButton(SvWindowAgent::WindowIcon, ui->pb_logo_button);
    windowAgent->setSystemButton(SvWindowAgent::Minimize, ui->pb_win_min);
    windowAgent->setSystemButton(SvWindowAgent::Maximize, ui->pb_win_max);
    windowAgent->setSystemButton(SvWindowAgent::Close, ui->pb_win_close);

    textOpenCamera = tr("Open Camera");
    textOpenRecording = tr("Open Recording");
    textQuit = tr("Quit");
    textAboutUs = tr("About us");
    textLanguage = tr("EN/中文");
    textGeneralSetting = tr("General Setting");
    textSaveAs = tr("Save as...");
    textCutRecording = tr("Cut Recording");
    textSaveImage = tr("Save Image");
    textCopyImage = tr("Copy Image");

    fusionProcessor = new SvFusionCameraDataProcessor(this);
    eventProcessor = new SvEventProcessor(this);

    showImageForm = ui->widget_show_image;
    idleStatusText = ui->lb_status_bar->text();
    rangeSlider = new SvThreeHandleSlider(ui->frame_play_ctrl, Qt::Horizontal, 1);
    rangeSlider->setEnabled(false);
    rangeSlider->setCenterValue(0);
    rateStrip = new SvEventRateStrip(ui->frame_play_ctrl);
    auto* sliderAndRate = new QVBoxLayout;
    sliderAndRate->setSpacing(0);
    sliderAndRate->addWidget(rangeSlider);
    sliderAndRate->addWidget(rateStrip);
    ui->layout_time_slider->addLayout(sliderAndRate);
    liveRateTimer = new QTimer(this);
    liveRateTimer->setInterval(SvEventRateStrip::liveSampleMs);
    // The side bar keeps to the left of its pages.
    ui->horizontalLayout_frame_setting->setStretchFactor(ui->layout_sidebar_setting, 1);
    waitingWin = new WaitingWin(ui->widget_show_image);
    // It stands for the processor's load, cut or export, which can be cancelled.
    waitingWin->setCancelable(true);

    ui->splitter->setStretchFactor(0, 1);
    // The view and the play bar get most of the width the settings pages do not need.
    ui->splitter->setStretchFactor(1, 4);
    addDropShadow(ui->frame_setting);
    addDropShadow(ui->frame_main);
    const std::pair<QPushButton*, QString> tooltips[] = {
        {ui->pb_play, tr("Play/Stop")},
        {ui->pb_record, tr("Start/Stop recording")},
        {ui->pb_prv, tr("Previous frame")},
        {ui->pb_next, tr("Next frame")},
        {ui->pb_stop, tr("Reset the playback progress to the beginning")},
        {ui->pb_loop, tr("Select to automatically replay at the end of the playback")},
    };
    for (const auto& [button, text] : tooltips) {
        auto* tip = new SvToolTip(text, SvToolTip::CentredAbove, this);
        tip->setTarget(button);
    }

    rangeMenu = makeMenu(this);
    rangeAction = rangeMenu->addAction(tr("Toggle Start/End Point"));
    rangeAction->setCheckable(true);
    connect(rangeAction, &QAction::toggled, this, &MainWidget::slotStartEndPointEditable);

    createMenus();
    createSettingPages();
    setAcceptDrops(true);
    restartLauncher = [](const QString& program) { return QProcess::startDetached(program, {}); };

    // The keyboard drives playback: the view's arrow-key scrolling would swallow Left and Right.
    setFocusPolicy(Qt::StrongFocus);
    for (auto* view : ui->widget_show_image->findChildren<QGraphicsView*>()) {
        view->setFocusPolicy(Qt::NoFocus);
    }

    registerSvMetaTypes();
    qRegisterMetaType<QPixmap*>("QPixmap*");
    qRegisterMetaType<QPixmap>("QPixmap");
    qRegisterMetaType<QImage>("QImage");
    qRegisterMetaType<sorvane::STREAM_TYPE>("sorvane::STREAM_TYPE");
    createConnections();

    config = ConfigStore::instance();
    initCameraSide();
}

MainWidget::~MainWidget()
{
    shutdownCameraSide();
    stopRecordClock();
    // The processor's threads end before the widgets they report to.
    delete eventProcessor;
    eventProcessor = nullptr;
    delete fusionProcessor;
    fusionProcessor = nullptr;
    delete waitingWin;
    waitingWin = nullptr;
    delete ui;
}

void MainWidget::createMenus()
{
    fileMenu = makeMenu(this);
    connect(fileMenu->addAction(textOpenRecording), &QAction::triggered, this, &MainWidget::slotOpenRecording);
    fileMenu->addSeparator();
    connect(fileMenu->addAction(textSaveAs), &QAction::triggered, this, &MainWidget::slotSaveAs);
    connect(fileMenu->addAction(textCutRecording), &QAction::triggered, this, &MainWidget::slotCutRecording);
    fileMenu->addSeparator();
    // Also on the window itself: a menu's shortcuts work only while it is open.
    QAction* saveImage = fileMenu->addAction(textSaveImage);
    saveImage->setShortcut(QKeySequence::Save);
    connect(saveImage, &QAction::triggered, this, &MainWidget::saveImageOnScreen);
    QAction* copyImage = fileMenu->addAction(textCopyImage);
    copyImage->setShortcut(QKeySequence::Copy);
    connect(copyImage, &QAction::triggered, this, &MainWidget::copyImageOnScreen);
    addActions({saveImage, copyImage});
    fileMenu->addSeparator();
    fileMenu->addAction(textQuit);

    deviceMenu = makeMenu(this);
    deviceMenu->addAction(textOpenCamera);
    deviceMenu->addSeparator();

    settingMenu = makeMenu(this);
    settingMenu->addAction(textGeneralSetting);
    settingMenu->addAction(textLanguage);

    helpMenu = makeMenu(this);
    helpMenu->addAction(textAboutUs);

    const std::pair<QPushButton*, QMenu*> titleMenus[] = {
        {ui->pb_menu_file, fileMenu},
        {ui->pb_menu_device, deviceMenu},
        {ui->pb_menu_setting, settingMenu},
        {ui->pb_menu_help, helpMenu},
    };
    for (const auto& titleMenu : titleMenus) {
        QPushButton* button = titleMenu.first;
        QMenu* menu = titleMenu.second;
        button->setMenu(menu);
        connect(menu, &QMenu::triggered, this, &MainWidget::openActionSlot);
        // The pointer left over the menu: the button saw no leave event and would stay lit.
        connect(menu, &QMenu::aboutToHide, button, [button] {
            button->setAttribute(Qt::WA_UnderMouse, button->rect().contains(button->mapFromGlobal(QCursor::pos())));
            button->update();
        });
    }
}

void MainWidget::createConnections()
{
    SvEventProcessor* processor = eventProcessor;
    connect(this, &MainWidget::signalOpenRawFile, processor, &SvEventProcessor::loadFile);
    connect(this, &MainWidget::signalCutRawFile, processor, &SvEventProcessor::slotCutRawFile);
    connect(this, &MainWidget::signalExportVideo, processor, &SvEventProcessor::slotExportVideo);

    // The processor plays recordings only; a live camera's Play is handled on the camera side.
    connect(ui->pb_play, &QPushButton::toggled, processor, [this, processor](bool checked) {
        if (!checked || sourceMode == RawFile)
            processor->slotPlaybackCtrl(checked);
    });
    connect(ui->pb_prv, &QPushButton::pressed, processor, &SvEventProcessor::preFrame);
    connect(ui->pb_next, &QPushButton::pressed, processor, &SvEventProcessor::nextFrame);
    connect(ui->pb_stop, &QPushButton::pressed, processor, &SvEventProcessor::slotPlaybackReset);
    connect(ui->pb_loop, &QPushButton::toggled, processor, &SvEventProcessor::slotPlayLoop);

    connect(rangeSlider, &SvThreeHandleSlider::centerValueMove, processor, &SvEventProcessor::setPlayPos);
    connect(rangeSlider, &SvThreeHandleSlider::centerValueTrackClick, processor, &SvEventProcessor::setPlayPos);
    connect(rangeSlider, &SvThreeHandleSlider::lowerValueChanged, processor, &SvEventProcessor::slotSetLowerTimeStamp);
    connect(rangeSlider, &SvThreeHandleSlider::upperValueChanged, processor, &SvEventProcessor::slotSetUpperTimeStamp);
    connect(processor, &SvEventProcessor::signalEventRateProfile, rateStrip, &SvEventRateStrip::setProfile);
    connect(processor, &SvEventProcessor::signalEventRateProfile, this, &MainWidget::showRecordingStatistics);
    connect(processor, &SvEventProcessor::signalStartTimeStamp, rangeSlider, &SvThreeHandleSlider::setMinimum);
    connect(processor, &SvEventProcessor::signalEndTimeStamp, rangeSlider, &SvThreeHandleSlider::setMaximum);

    connect(processor, &SvEventProcessor::signalPlayStatus, ui->pb_play, &QPushButton::setChecked);
    connect(processor, &SvEventProcessor::signalRealTimeTimeStamp, this, &MainWidget::showTimeStamp, Qt::QueuedConnection);
    connect(processor, &SvEventProcessor::signalLoadingStatus, this, &MainWidget::slotSetWaitWinStatus);
    connect(processor, &SvEventProcessor::signalProgress, waitingWin, &WaitingWin::setProgress);
    connect(waitingWin, &WaitingWin::cancelRequested, processor, &SvEventProcessor::slotCancelWork);
    // What the processor has open, not what was last asked for: the check against cutting onto
    // the open recording compares with it.
    connect(processor, &SvEventProcessor::signalRecordingOpened, this,
            [this](const QString& path) { openRecording = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath(); });
    connect(processor, &SvEventProcessor::signalShowLeftBottomTips, this,
            qOverload<QString, SvMessageType, QString>(&MainWidget::slotShowLeftBottomTips), Qt::QueuedConnection);
    connect(processor, &SvEventProcessor::signalEventImage, showImageForm, &ShowImageForm::slotShowImage,
            Qt::QueuedConnection);

    connectFusionProcessor();
    showViewerTypeOfSource();
    connect(showImageForm->view(), &SvGraphicsView::regionChanged, this, &MainWidget::applyRegion);

    connect(rangeSlider, &SvThreeHandleSlider::rangeChanged, rateStrip, &SvEventRateStrip::setRange);
    connect(rateStrip, &SvEventRateStrip::timeClicked, this, [this](uint64_t time) {
        if (sourceMode == RawFile) {
            eventProcessor->setPlayPos(time);
        } else if (sourceMode == FusionFile) {
            fusionProcessor->setPlayPos(time);
        }
    });
    connect(liveRateTimer, &QTimer::timeout, this, [this] {
        if (streaming) {
            rateStrip->addLiveSample(liveEvents.exchange(0, std::memory_order_relaxed));
        }
    });

    connect(this, &MainWidget::signalShowLeftBottomTips, this,
            qOverload<QString, SvMessageType, QString>(&MainWidget::slotShowLeftBottomTips));
    connect(this, &MainWidget::setShowCameraLiveUI, this, &MainWidget::showCameraPlayingUI);
    connect(this, &MainWidget::resetShowCameraFormTitle, this, &MainWidget::setShowTitleInfo);
    connect(this, &MainWidget::toShowCameraSerial, this, &MainWidget::showCameraSerial);
}

void MainWidget::connectFusionProcessor()
{
    SvFusionCameraDataProcessor* processor = fusionProcessor;
    connect(this, &MainWidget::signalOpenFusionFile, processor, &SvFusionCameraDataProcessor::slotReadFusionFile);
    connect(this, &MainWidget::signalSetViewerShowType, processor, &SvFusionCameraDataProcessor::slotSetViewerType);
    // Queued: the button's stop reaches the processor after the click that released it is done.
    connect(
        ui->pb_play, &QPushButton::toggled, processor,
        [this, processor](bool checked) {
            if (!checked || sourceMode == FusionFile)
                processor->slotPlaybackCtrl(checked);
        },
        Qt::QueuedConnection);
    connect(ui->pb_prv, &QPushButton::pressed, processor, &SvFusionCameraDataProcessor::preFrame);
    connect(ui->pb_next, &QPushButton::pressed, processor, &SvFusionCameraDataProcessor::nextFrame);
    connect(ui->pb_stop, &QPushButton::pressed, processor, &SvFusionCameraDataProcessor::slotPlaybackReset);
    connect(ui->pb_loop, &QPushButton::toggled, processor, &SvFusionCameraDataProcessor::slotSetReplayFlag);
    connect(rangeSlider, &SvThreeHandleSlider::centerValueMove, processor, &SvFusionCameraDataProcessor::setPlayPos);
    connect(rangeSlider, &SvThreeHandleSlider::centerValueTrackClick, processor,
            &SvFusionCameraDataProcessor::setPlayPos);
    connect(rangeSlider, &SvThreeHandleSlider::lowerValueChanged, processor,
            &SvFusionCameraDataProcessor::slotSetLowerTimeStamp);
    connect(rangeSlider, &SvThreeHandleSlider::upperValueChanged, processor,
            &SvFusionCameraDataProcessor::slotSetUpperTimeStamp);
    connect(waitingWin, &WaitingWin::cancelRequested, processor, &SvFusionCameraDataProcessor::slotCancelWork);

    // Emitted on the processor's threads: every receiver below runs on this one.
    connect(processor, &SvFusionCameraDataProcessor::signalEventRateProfile, rateStrip, &SvEventRateStrip::setProfile);
    connect(processor, &SvFusionCameraDataProcessor::signalEventRateProfile, this,
            &MainWidget::showRecordingStatistics);
    connect(processor, &SvFusionCameraDataProcessor::signalStartTimeStamp, rangeSlider,
            &SvThreeHandleSlider::setMinimum);
    connect(processor, &SvFusionCameraDataProcessor::signalEndTimeStamp, rangeSlider,
            &SvThreeHandleSlider::setMaximum);
    connect(processor, &SvFusionCameraDataProcessor::signalPlayStatus, ui->pb_play, &QPushButton::setChecked);
    connect(processor, &SvFusionCameraDataProcessor::signalPalyFileFinished, ui->pb_play,
            [this] { ui->pb_play->setChecked(false); });
    connect(processor, &SvFusionCameraDataProcessor::signalTimeStamp, this, &MainWidget::showTimeStamp,
            Qt::QueuedConnection);
    connect(processor, &SvFusionCameraDataProcessor::signalLoadingStatus, this, &MainWidget::slotSetWaitWinStatus);
    connect(processor, &SvFusionCameraDataProcessor::signalProgress, waitingWin, &WaitingWin::setProgress);
    connect(this, &MainWidget::signalCutFusionSet, processor, &SvFusionCameraDataProcessor::slotCutSet);
    connect(this, &MainWidget::signalExportFusionSet, processor, &SvFusionCameraDataProcessor::slotExportSet);
    connect(processor, &SvFusionCameraDataProcessor::signalShowLeftBottomTips, this,
            qOverload<QString, SvMessageType, QString>(&MainWidget::slotShowLeftBottomTips), Qt::QueuedConnection);
    connect(processor, &SvFusionCameraDataProcessor::signalFusionImage, showImageForm, &ShowImageForm::slotShowImage,
            Qt::QueuedConnection);
}

QString MainWidget::chooseRecordingToOpen()
{
    return QFileDialog::getOpenFileName(nullptr, tr("Select a raw file"), config->inputRawFilePath,
                                        tr("Recordings (*.raw *.dat)"));
}

bool MainWidget::refuseOpeningWhileBusy()
{
    if (!eventProcessor->isBusy() && !fusionProcessor->isBusy()) {
        return false;
    }
    emit signalShowLeftBottomTips(tr("Wait for the recording's work to finish, or cancel it, before opening another."),
                                  Warning, QString());
    return true;
}

void MainWidget::slotOpenRecording()
{
    // Asked before the file dialog, so that nobody picks a file in vain.
    if (!refuseOpeningWhileBusy()) {
        openRecordingFile(chooseRecordingToOpen());
    }
}

void MainWidget::openRecordingFile(const QString& path)
{
    if (path.isEmpty() || refuseOpeningWhileBusy()) {
        return;
    }
    const QFileInfo info(recordingOfSet(path));
    if (!info.isFile()) {
        emit signalShowLeftBottomTips(tr("Open recording failed: no such file."), Error, QString());
        return;
    }
    // Stops a running stream as the released Play button does, then lets the cameras go.
    releaseCameraForOtherSource();
    if (isLiveSource(sourceMode) && ui->pb_play->isChecked()) {
        ui->pb_play->click();
    }
    dvsCamera.reset();
    fusionCamera.reset();

    clearCameraToolsForPlayback();
    liveRateTimer->stop();
    rateStrip->clear();
    ui->lb_status_bar->setText(idleStatusText);
    recordingBytes = info.size();
    clearRegion();

    config->inputRawFilePath = info.absolutePath();
    const QString rawPath = info.absoluteFilePath();
    const QString apsVideo = QString("%1/%2.mp4").arg(info.absolutePath(), info.completeBaseName());
    // A set is NAME.raw with NAME.mp4 beside it; a .dat holds events alone.
    if (info.suffix().compare("raw", Qt::CaseInsensitive) == 0 && QFileInfo(apsVideo).isFile()) {
        sourceMode = FusionFile;
        emit signalOpenRawFile(QString());
        emit signalOpenFusionFile(rawPath);
    } else {
        sourceMode = RawFile;
        emit signalOpenRawFile(rawPath);
        emit signalOpenFusionFile(QString());
    }
    showViewerTypeOfSource();
    setPlaybackControlsEnabled(true);
}

void MainWidget::saveImageOnScreen()
{
    const QImage image = showImageForm->currentPixmap().toImage();
    auto* watcher = new QFutureWatcher<SavedImage>(this);
    connect(watcher, &QFutureWatcher<SavedImage>::finished, this, [this, watcher] {
        watcher->deleteLater();
        const SavedImage saved = watcher->result();
        if (saved.path.isEmpty())
            emit signalShowLeftBottomTips(tr("Saving the image failed: ") + saved.error, Error, QString());
        else
            emit signalShowLeftBottomTips(tr("Image saved: ") + QDir::toNativeSeparators(saved.path), Success,
                                          QFileInfo(saved.path).absolutePath());
    });
    watcher->setFuture(QtConcurrent::run(saveImageAsPng, image, config->videoSavePath, QDateTime::currentDateTime()));
}

void MainWidget::copyImageOnScreen()
{
    QGuiApplication::clipboard()->setImage(showImageForm->currentPixmap().toImage());
    emit signalShowLeftBottomTips(tr("Image copied."), Success, QString());
}

void MainWidget::slotCutRecording()
{
    SvCutRawFile dialog(this);
    // A fusion set is cut into a set: the events, the frames of the range and the calibration.
    if (!askForRange(dialog, config->outputRawFilePath, ".raw", tr("Cut refused: the target is the open recording ")))
        return;
    if (sourceMode == FusionFile)
        emit signalCutFusionSet(dialog.getFilePath(), dialog.getFileDir(), dialog.getStartTime(), dialog.getEndTime(),
                                dialog.replacesExisting(), dialog.chosenRegion());
    else
        emit signalCutRawFile(dialog.getFilePath(), dialog.getFileDir(), dialog.getStartTime(), dialog.getEndTime(),
                              dialog.replacesExisting(), dialog.chosenRegion());
}

void MainWidget::slotSaveAs()
{
    SvExportVideoUI dialog(this);
    // A fusion set is painted as the viewer type on screen shows it.
    const bool set = sourceMode == FusionFile;
    dialog.setFrameStep(set ? fusionProcessor->frameStep() : eventProcessor->frameStep(), rangeSlider->minimum(),
                        rangeSlider->maximum());
    if (!askForRange(dialog, config->videoSavePath, ".mp4", tr("Export refused: the target is the open recording ")))
        return;
    if (set)
        emit signalExportFusionSet(dialog.getFilePath(), dialog.getFileDir(), dialog.getStartTime(),
                                   dialog.getEndTime(), dialog.replacesExisting(), dialog.chosenRegion());
    else
        emit signalExportVideo(dialog.getFilePath(), dialog.getFileDir(), dialog.getStartTime(), dialog.getEndTime(),
                               dialog.replacesExisting(), dialog.chosenRegion());
}

bool MainWidget::askForRange(SvRangeFileDialog& dialog, const QString& folder, const QString& extension,
                             const QString& refusal)
{
    if (sourceMode != RawFile && (sourceMode != FusionFile || !fusionProcessor->setLoaded())) {
        emit signalShowLeftBottomTips(tr("Please open a raw file first."), Warning, QString());
        return false;
    }
    dialog.setStartTime(rangeSlider->lowerBound());
    dialog.setEndTime(rangeSlider->upperBound());
    dialog.setFilePath(folder);
    dialog.setFileName(localTimeName() + extension);
    dialog.setRegion(showImageForm->view()->region());
    return dialog.exec() == QDialog::Accepted && !refuseOverwritingOpenRecording(dialog.getFilePath(), refusal);
}

bool MainWidget::refuseOverwritingOpenRecording(const QString& out_path, const QString& what)
{
    const QFileInfo target(out_path);
    const QFileInfo open(openRecording);
    // A target that does not exist yet cannot be the open file; canonical paths see through
    // "..", doubled slashes and links.
    if (openRecording.isEmpty() || !target.exists() || target.canonicalFilePath() != open.canonicalFilePath()) {
        return false;
    }
    emit signalShowLeftBottomTips(what + QDir::toNativeSeparators(out_path), Error, QString());
    return true;
}

void MainWidget::slotStartEndPointEditable(bool en)
{
    rangeSlider->setHandleMode(en ? 3 : 1);
    rangeSlider->update();
}

void MainWidget::showTimeStamp(uint64_t timestamp_us)
{
    ui->label_show_timestamp_info->setText(formatTimestamp(timestamp_us));
    if (sourceMode == RawFile || sourceMode == FusionFile) {
        rangeSlider->setCenterValue(timestamp_us);
        ui->label_time->setText(formatTimestamp(timestamp_us) + "/" + formatTimestamp(rangeSlider->upperBound()));
    }
}

void MainWidget::slotSetWaitWinStatus(bool en)
{
    if (en) {
        waitingWin->setProgress(-1);
        waitingWin->show();
    } else {
        waitingWin->finish();
    }
}

void MainWidget::slotShowLeftBottomTips(QString tips, SvMessageType type, QString file_path)
{
    auto* toast = new SvFilePathReminderForm(tips, type, file_path, this);
    toast->move(keptOnScreen(QPoint(x(), y() + height() - toast->height()), toast->size(), this));
    toast->show();
}

void MainWidget::slotShowLeftBottomTips(QString tips, SvMessageType type)
{
    slotShowLeftBottomTips(tips, type, QString());
}

void MainWidget::slotShowLeftBottomTips(QString tips)
{
    slotShowLeftBottomTips(tips, Success, QString());
}

void MainWidget::openActionSlot(QAction* action)
{
    const QString text = action->text();
    if (text == textOpenCamera || text == textOpenRecording) {
        return;
    }
    if (text == textQuit) {
        close();
    } else if (text == textAboutUs) {
        showAbout();
    } else if (text == textLanguage) {
        askToRestartForLanguage();
    } else if (text == textGeneralSetting) {
        openGeneralSettings();
    }
}

void MainWidget::showAbout()
{
    if (projectSite.isEmpty()) {
        const QString build = tr("SorvaneViewer %1\nQt %2 (built with %3), %4, %5")
                                  .arg(InitDialog::Version, qVersion(), QT_VERSION_STR,
                                       QSysInfo::buildCpuArchitecture(), QSysInfo::prettyProductName());
        SVMessageBox box(build, tr("About us"), tr("Open"), tr("Close"), this);
        box.setOpenEnabled(false);
        box.exec();
        return;
    }
    SVMessageBox box(tr("Is it open in the browser?"), tr("Tips"), tr("Open"), tr("Close"), this);
    if (box.exec() == QDialog::Accepted) {
        QDesktopServices::openUrl(QUrl(projectSite));
    }
}

void MainWidget::askToRestartForLanguage()
{
    SVMessageBox box(tr("The language change will take effect after restart."), tr("Tips"), tr("Restart"),
                     tr("Later"), this);
    if (box.exec() != QDialog::Accepted) {
        return;
    }
    config->language = config->language == "en" ? "zh" : "en";
    config->save();
    // Started before this window closes: if the new program cannot start, the user keeps a window.
    if (!restartLauncher(QCoreApplication::applicationFilePath())) {
        emit signalShowLeftBottomTips(tr("The viewer could not restart itself; the language changes at its next start."),
                                      Error, QString());
        return;
    }
    QApplication::closeAllWindows();
}

void MainWidget::setShowTitleInfo(bool show)
{
    Q_UNUSED(show);
    ui->label_show_camera_info->clear();
    ui->label_show_timestamp_info->clear();
}

void MainWidget::showCameraSerial(QString str)
{
    ui->label_show_camera_info->setText(str);
}

void MainWidget::showCameraPlayingUI(bool en)
{
    setPlaybackControlsEnabled(!en);
    if (en) {
        rangeSlider->setCenterValue(0);
        ui->label_time->setText("--/--");
    }
}

void MainWidget::setPlaybackControlsEnabled(bool enabled)
{
    ui->pb_loop->setEnabled(enabled);
    ui->pb_next->setEnabled(enabled);
    ui->pb_prv->setEnabled(enabled);
    ui->pb_stop->setEnabled(enabled);
    rangeSlider->setEnabled(enabled);
}

void MainWidget::clearRegion()
{
    showImageForm->view()->showRegion(QRect());
    eventProcessor->setShownRegion(QRect());
    fusionProcessor->setShownRegion(QRect());
}

void MainWidget::showViewerTypeOfSource()
{
    // Only a source with frames has views to switch between; events alone show as DVS.
    const bool hasFrames = sourceMode == LiveFusionCamera || sourceMode == FusionFile;
    viewerType = hasFrames ? 2 : 0;
    applyViewerTypeIcons(viewerType);
    ui->pb_viewer_type->setEnabled(hasFrames);
    emit signalSetViewerShowType(sorvane::STREAM_TYPE(viewerType));
}

void MainWidget::applyViewerTypeIcons(int type)
{
    static const char* const sets[] = {"DVS", "APS", "Fusion"};
    const QString base = QString(":/img/assets/btn_playbar_%1").arg(sets[std::clamp(type, 0, 2)]);
    ui->pb_viewer_type->setStyleSheet(QString("#pb_viewer_type{image: url(%1.png);}"
                                              "#pb_viewer_type:hover, #pb_viewer_type:pressed{image: url(%1_hover.png);}"
                                              "#pb_viewer_type:disabled{image: url(%1_disable.png);}")
                                          .arg(base));
}

void MainWidget::on_pb_record_clicked()
{
    switch (sourceMode) {
    case LiveDvsCamera:
    case LiveFusionCamera:
        toggleCameraRecording();
        break;
    case NoSource:
        qDebug() << "Please connect camera first.";
        ui->pb_record->setChecked(false);
        break;
    case RawFile:
    case FusionFile:
        // A recording is played, not recorded: the button must not stay pressed.
        ui->pb_record->setChecked(false);
        break;
    }
    if (recording) {
        startRecordClock();
    } else {
        stopRecordClock();
    }
}

void MainWidget::toggleCameraRecording()
{
    // A running recording ends whatever the connection: its files keep what came before a loss.
    if (recording) {
        qDebug() << "stop recording";
        finishCameraRecording();
        return;
    }
    // No new recording before the last one's files are complete (the button is disabled until then).
    if (finishThread.joinable()) {
        ui->pb_record->setChecked(false);
        return;
    }
    const bool dvs = sourceMode == LiveDvsCamera;
    if (dvs ? !dvsCamera || !dvsCamera->isConnected() : !fusionCamera || !fusionCamera->isConnected()) {
        qDebug() << "Please connect camera first.";
        ui->pb_record->setChecked(false);
        return;
    }
    qDebug() << "start recording...";
    const std::string serial = dvs ? dvsCamera->getDvsDesc().serial : fusionCamera->getDvsDesc().serial;
    // A fusion camera writes a set (.raw, .mp4, .json) under one base name.
    const QString base = recordingBase(config->outputRawFilePath, QString::fromStdString(serial),
                                       QDateTime::currentDateTime(),
                                       dvs ? QStringList{".raw"} : QStringList{".raw", ".mp4", ".json"});
    const QString target = base + (dvs ? ".raw" : "");
    const bool started = dvs ? dvsCamera->startRecording(target.toLocal8Bit().toStdString())
                             : fusionCamera->startRecording(config->outputRawFilePath.toLocal8Bit().toStdString(),
                                                            QFileInfo(base).fileName().toLocal8Bit().toStdString(),
                                                            sorvane::STREAM_ALL);
    if (!started) {
        ui->pb_record->setChecked(false);
        emit signalShowLeftBottomTips(tr("Start recording failed: ") + target, Error, QString());
        return;
    }
    recording = true;
    ui->pb_record->setChecked(true);
}

void MainWidget::finishCameraRecording()
{
    stopRecordClock();
    ui->pb_record->setChecked(false);
    ui->pb_record->setEnabled(false);
    std::shared_ptr<sorvane::DvsCamera> dvs = sourceMode == LiveDvsCamera ? dvsCamera : nullptr;
    std::shared_ptr<sorvane::FusionCamera> fusion = sourceMode == LiveFusionCamera ? fusionCamera : nullptr;
    finishThread = std::thread([this, dvs = std::move(dvs), fusion = std::move(fusion)]() mutable {
        const bool saved = dvs ? dvs->stopRecording() : fusion && fusion->stopRecording(sorvane::STREAM_ALL);
        // A camera the window let go meanwhile closes here, not on the GUI thread.
        dvs.reset();
        fusion.reset();
        QMetaObject::invokeMethod(this, [this, saved] { cameraRecordingFinished(saved); }, Qt::QueuedConnection);
    });
}

void MainWidget::cameraRecordingFinished(bool saved)
{
    // The thread has done its work and only returns: joining it does not wait.
    if (finishThread.joinable()) {
        finishThread.join();
    }
    ui->pb_record->setEnabled(true);
    if (saved) {
        emit signalShowLeftBottomTips(tr("Save file success!"), Success, config->outputRawFilePath);
    } else {
        emit signalShowLeftBottomTips(tr("Save file failed."), Error, config->outputRawFilePath);
    }
}

void MainWidget::startRecordClock()
{
    if (recordTimeThread.joinable()) {
        return;
    }
    recordTimeThread = std::thread([this] {
        uint64_t elapsed = 0;
        auto tick = std::chrono::steady_clock::now();
        std::unique_lock lock(recordClockMutex);
        while (recording) {
            QMetaObject::invokeMethod(
                this,
                [this, text = formatDuration(elapsed)] {
                    if (recording) {
                        ui->lb_recoding_time->setText(text);
                    }
                },
                Qt::QueuedConnection);
            tick += std::chrono::seconds(1);
            recordClockWake.wait_until(lock, tick, [this] { return !recording; });
            ++elapsed;
        }
    });
}

void MainWidget::stopRecordClock()
{
    {
        std::lock_guard lock(recordClockMutex);
        recording = false;
    }
    recordClockWake.notify_all();
    if (recordTimeThread.joinable()) {
        recordTimeThread.join();
    }
    ui->lb_recoding_time->clear();
}

void MainWidget::on_pb_viewer_setting_clicked(bool checked)
{
    if (checked) {
        const QSize menuSize = rangeMenu->sizeHint();
        const QPoint buttonTopRight = ui->pb_viewer_setting->mapToGlobal(QPoint(ui->pb_viewer_setting->width(), 0));
        rangeMenu->exec(buttonTopRight - QPoint(menuSize.width(), menuSize.height()));
    }
    ui->pb_viewer_setting->setChecked(false);
}

void MainWidget::on_pb_win_min_clicked()
{
    showMinimized();
}

void MainWidget::on_pb_win_max_clicked()
{
    const bool maximise = !isMaximized();
    const QString radius = maximise ? "0px" : "6px";
    QString titleStyle = ui->widget_title_bar->styleSheet();
    titleStyle = SvStyleSheet::replaceDeclaration(titleStyle, "border-top-left-radius",
                                                  "border-top-left-radius: " + radius + ";");
    titleStyle = SvStyleSheet::replaceDeclaration(titleStyle, "border-top-right-radius",
                                                  "border-top-right-radius: " + radius + ";");
    ui->widget_title_bar->setStyleSheet(titleStyle);
    ui->pb_win_max->setStyleSheet(maximise ? "#pb_win_max{image: url(:/img/assets/btn_win_restore.png);}" : QString());
    if (maximise) {
        showMaximized();
    } else {
        showNormal();
    }
}

void MainWidget::on_pb_win_close_clicked()
{
    close();
}

void MainWidget::foldSettingPage(int page, bool checked)
{
    QPushButton* const foldButtons[3] = {ui->pb_fold_setting, ui->pb_fold_dvs_setting, ui->pb_fold_aps_setting};
    if (checked) {
        for (int i = 0; i < 3; ++i) {
            if (settingPages[i]) {
                settingPages[i]->setVisible(i == page);
            }
            if (i != page) {
                foldButtons[i]->setChecked(false);
            }
        }
        ui->frame_setting->setMaximumWidth(500);
        openSettingsPane();
    } else {
        if (settingPages[page]) {
            settingPages[page]->hide();
        }
        ui->frame_setting->setMaximumWidth(ui->widget_side_bar->width());
    }
}

void MainWidget::openSettingsPane()
{
    // The splitter keeps a folded pane's width when the pane may grow again: give the page room.
    const int pane = std::clamp(ui->frame_setting->sizeHint().width(), 360, 500);
    const int total = ui->splitter->width();
    if (ui->frame_setting->width() < pane && total > 2 * pane) {
        ui->splitter->setSizes({pane, total - pane});
    }
}

void MainWidget::on_pb_fold_setting_clicked(bool checked)
{
    foldSettingPage(0, checked);
}

void MainWidget::on_pb_fold_dvs_setting_clicked(bool checked)
{
    foldSettingPage(1, checked);
}

void MainWidget::on_pb_fold_aps_setting_clicked(bool checked)
{
    foldSettingPage(2, checked);
}

void MainWidget::on_pb_fold_general_setting_clicked()
{
    openGeneralSettings();
}

void MainWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous()) {
        if (const QScreen* shownOn = screen()) {
            const QRect available = shownOn->availableGeometry();
            move(available.center() - rect().center());
        }
        if (ui->pb_fold_setting->isChecked() || ui->pb_fold_dvs_setting->isChecked() || ui->pb_fold_aps_setting->isChecked()) {
            openSettingsPane();
        }
        setFocus();
    }
}

void MainWidget::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
    }
    QWidget::changeEvent(event);
}

void MainWidget::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    if (waitingWin) {
        waitingWin->updatePosition();
    }
}

void MainWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (waitingWin) {
        waitingWin->updatePosition();
    }
}

void MainWidget::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Space:
        ui->pb_play->setChecked(!ui->pb_play->isChecked());
        break;
    case Qt::Key_Left:
        emit ui->pb_prv->pressed();
        break;
    case Qt::Key_Right:
        emit ui->pb_next->pressed();
        break;
    default:
        QWidget::keyPressEvent(event);
        break;
    }
}

void MainWidget::dragEnterEvent(QDragEnterEvent* event)
{
    if (!droppedRecording(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void MainWidget::dropEvent(QDropEvent* event)
{
    const QString path = droppedRecording(event->mimeData());
    if (path.isEmpty()) {
        return;
    }
    event->acceptProposedAction();
    openRecordingFile(path);
}
