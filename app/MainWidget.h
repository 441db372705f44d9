#pragma once
// The main window and the controller of what the user does: it routes the File commands, the
// play bar and the keyboard to the processors and shows what they report (images, time, range,
// play and loading state, tips). It does no decoding itself.
//
// Threading: everything here runs on the GUI thread, except the recording clock's thread, which
// only waits and posts label updates back, and the thread that finishes a stopped recording's
// files, which posts its result back.
#include "SorvaneDriver/DvsCameraManager.h"
#include "SorvaneHal/CameraTool.h"
#include "SorvaneHal/CameraTypes.h"
#include "app/DvsAcquisitionLoop.h"
#include "app/SvMessageType.h"

#include <QPointer>
#include <QRect>
#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class ConfigStore;
class QAction;
class QMenu;
class QTimer;
class ShowImageForm;
class SidebarApsSettingUI;
class SidebarCameraSettingUI;
class SidebarDvsSettingUI;
class SvEventProcessor;
class SvEventRateStrip;
class SvFusionCameraDataProcessor;
class SvFileRecorder;
class SvRangeFileDialog;
class SvThreeHandleSlider;
class SvWindowAgent;
class WaitingWin;

namespace Ui {
class Widget;
}

class MainWidget : public QWidget {
    Q_OBJECT
public:
    // What the window is showing.
    enum SourceMode : int {
        NoSource = 0,
        LiveDvsCamera = 1,
        LiveFusionCamera = 2,
        RawFile = 3,
        FusionFile = 4,
    };
    Q_ENUM(SourceMode)

    explicit MainWidget(QWidget* parent = nullptr);
    ~MainWidget() override;

    SourceMode currentSourceMode() const { return sourceMode; }
    // The recording opened last (empty before the first and while a camera is the source).
    QString openRecordingPath() const { return openRecording; }

    // Opens a recording as "Open Recording" does after its file dialog (the command line and
    // drops come here); a fusion set opens through its .raw or its .mp4.
    void openRecordingFile(const QString& path);
    // Opens the attached camera with this serial as if chosen in the camera list; false with a
    // tip when there is none.
    bool openCameraBySerial(const QString& serial);

    // Starts the new instance after a language change; tests replace it to watch the restart.
    using RestartLauncher = std::function<bool(const QString& program)>;
    void setRestartLauncher(RestartLauncher launcher) { restartLauncher = std::move(launcher); }

signals:
    void triggerEventsToShow();
    void setShowCameraLiveUI(bool en);
    void resetShowCameraFormTitle(bool show);
    void toShowCameraSerial(QString serial);
    void signalOpenRawFile(QString path);
    void signalOpenFusionFile(QString path);
    // replace: the user agreed to replace the file at out_path.
    void signalCutRawFile(QString out_path, QString out_dir, uint64_t start_ts, uint64_t end_ts, bool replace,
                          QRect region);
    void signalExportVideo(QString out_path, QString out_dir, uint64_t start_ts, uint64_t end_ts, bool replace,
                           QRect region);
    void signalCutFusionSet(QString out_path, QString out_dir, uint64_t start_ts, uint64_t end_ts, bool replace,
                            QRect region);
    void signalExportFusionSet(QString out_path, QString out_dir, uint64_t start_ts, uint64_t end_ts, bool replace,
                               QRect region);
    void signalShowLeftBottomTips(QString tips, SvMessageType type, QString file_path);
    void signalSetViewerShowType(sorvane::STREAM_TYPE type);

public slots:
    void slotOpenRecording();
    void slotSaveAs();
    void slotCutRecording();
    // The image on screen as a PNG in the video folder, or on the clipboard.
    void saveImageOnScreen();
    void copyImageOnScreen();
    void slotStartEndPointEditable(bool en);
    void showTimeStamp(uint64_t timestamp_us);
    void slotSetWaitWinStatus(bool en);
    void slotShowLeftBottomTips(QString tips, SvMessageType type, QString file_path);
    void slotShowLeftBottomTips(QString tips, SvMessageType type);
    void slotShowLeftBottomTips(QString tips);
    void openActionSlot(QAction* action);
    void setShowTitleInfo(bool show);
    void showCameraSerial(QString str);
    void showCameraPlayingUI(bool en);

    void on_pb_record_clicked();
    void on_pb_viewer_setting_clicked(bool checked);
    void on_pb_win_min_clicked();
    void on_pb_win_max_clicked();
    void on_pb_win_close_clicked();
    void on_pb_fold_setting_clicked(bool checked);
    void on_pb_fold_dvs_setting_clicked(bool checked);
    void on_pb_fold_aps_setting_clicked(bool checked);
    void on_pb_fold_general_setting_clicked();

protected:
    // The recording chosen in "Open Recording"; empty when cancelled. Tests choose without a
    // native dialog by overriding it.
    virtual QString chooseRecordingToOpen();

    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createMenus();
    void createConnections();
    void connectFusionProcessor();
    void setPlaybackControlsEnabled(bool enabled);
    // The viewer type a newly shown source starts with, told to the button and the processor.
    void showViewerTypeOfSource();
    // Icon set of the viewer-type button: 0 DVS, 1 APS, 2 fusion.
    void applyViewerTypeIcons(int type);
    // One settings page shown (or the panel folded to the side bar when none is).
    void foldSettingPage(int page, bool checked);
    void openSettingsPane();
    void openGeneralSettings();
    // A Warning tip and true while a load, cut or export runs.
    bool refuseOpeningWhileBusy();
    void showAbout();
    void askToRestartForLanguage();
    // Error tip and true when out_path is the recording being read (it must never be overwritten).
    // Fills a cut or export dialog from the slider's range and runs it; true when the user
    // accepted a target that is not the open recording.
    bool askForRange(SvRangeFileDialog& dialog, const QString& folder, const QString& extension, const QString& refusal);
    bool refuseOverwritingOpenRecording(const QString& out_path, const QString& what);
    // The Record button on a live camera: starts a recording or ends the running one.
    void toggleCameraRecording();
    // Ends the Record-button recording: its files are finished on finishThread, the Record
    // button staying disabled until they are complete.
    void finishCameraRecording();
    void cameraRecordingFinished(bool saved);
    void startRecordClock();
    void stopRecordClock();

    Ui::Widget* ui;
    SvWindowAgent* windowAgent = nullptr;
    ConfigStore* config = nullptr;

    // Shared with the camera side.
    sorvane::DvsCameraManager cameraManager;
    std::shared_ptr<sorvane::DvsCamera> dvsCamera;
    std::shared_ptr<sorvane::FusionCamera> fusionCamera;
    SourceMode sourceMode = NoSource;
    int viewerType = 2;
    std::atomic<bool> streaming{false};

    SvEventProcessor* eventProcessor = nullptr;
    SvFusionCameraDataProcessor* fusionProcessor = nullptr;
    ShowImageForm* showImageForm = nullptr;
    SvThreeHandleSlider* rangeSlider = nullptr;
    // Under the slider: the open recording's event rate, or a live camera's last ten seconds.
    SvEventRateStrip* rateStrip = nullptr;
    QTimer* liveRateTimer = nullptr;
    // Events the live camera delivered since the last sample of the strip.
    std::atomic<uint64_t> liveEvents{0};
    WaitingWin* waitingWin = nullptr;
    QMenu* rangeMenu = nullptr;
    QAction* rangeAction = nullptr;
    QMenu* fileMenu = nullptr;
    QMenu* deviceMenu = nullptr;
    QMenu* settingMenu = nullptr;
    QMenu* helpMenu = nullptr;
    // The three settings pages (camera, DVS, APS) in the order of their fold buttons.
    QPointer<QWidget> settingPages[3];

    QString openRecording;
    RestartLauncher restartLauncher;

    // Menu entry texts, made once so that openActionSlot compares with the same words.
    QString textOpenCamera;
    QString textOpenRecording;
    QString textQuit;
    QString textAboutUs;
    QString textLanguage;
    QString textGeneralSetting;
    QString textSaveAs;
    QString textCutRecording;
    QString textSaveImage;
    QString textCopyImage;

    // Camera recording and its elapsed-time clock.
    std::atomic<bool> recording{false};
    std::thread recordTimeThread;
    // Guards the clock's wake-up: recording cleared under it, so a stop is never missed.
    std::mutex recordClockMutex;
    std::condition_variable recordClockWake;
    // Finishes the files of a stopped recording (finishCameraRecording).
    std::thread finishThread;

    // ---- camera side (MainWidgetCamera.cpp): opening, streaming, statistics, trigger-in ----
public:
    // The status-bar text of one statistics report: bandwidth, then event rate.
    static QString statisticsText(const sorvane::SvStatisticInfo& info);
    // The recorder of trigger-in recordings (owned by the window).
    SvFileRecorder* triggerInRecorder() const { return fileRecorder; }

public slots:
    void slotOpenCamera();
    void on_pb_play_clicked(bool checked);
    void on_pb_viewer_type_clicked();
    // (Re)applies the trigger-in recording settings to the open DVS camera.
    void initDvsCameraSettings();
    void getEventsToShow();
    // The accumulation time chosen on the camera settings page: the DVS camera's batch interval.
    void slotSetBatchEventsTime(uint64_t time_us);

private:
    // Called by the constructor and, first thing, by the destructor.
    void initCameraSide();
    void shutdownCameraSide();
    // Opens one camera of the list while the waiting window turns.
    void openCamera(const sorvane::CameraDescription& desc);
    // Runs on the opening worker thread.
    void openCameraProcedure(const sorvane::CameraDescription& desc);
    void startDvsStream();
    // Ends the polling loop and joins its thread; the camera keeps running.
    void stopDvsLoop();
    // Before another source replaces the camera: recordings end (their files complete, the
    // Record button released), then the stream stops.
    void releaseCameraForOtherSource();
    void stopCameraRecordings();
    void showStatistics(const sorvane::SvStatisticInfo& info);
    // A recording's own figures, averaged over its span, from its event-rate profile.
    void showRecordingStatistics(const QList<quint64>& counts, uint64_t first, uint64_t last);
    // On the camera's thread: hands an edge of the armed kind to the GUI thread.
    void onTriggerIn(const sorvane::EventTriggerIn& trigger, const QString& serial, const QString& edge);
    // On the GUI thread: the timed recording of an edge taken while trigger-in was armed as arming.
    void recordTrigger(uint64_t triggerTime, const QString& serial, uint64_t arming);
    // Edges taken before this call and not yet handled are dropped; called once the camera can
    // no longer deliver them (callback removed, stream stopped).
    void dropPendingTriggers();

    std::thread acquisitionThread;
    // The polled batch, the last event's timestamp and the polling rate, for the acquisition thread.
    DvsAcquisitionState acquisition;
    uint64_t batchEventsTime = 33333;
    uint32_t triggerInCallbackId = 0xFFFFFFFF;
    // Read by the camera's thread with each edge; changes when trigger-in is disarmed.
    std::atomic<uint64_t> triggerArming{0};
    SvFileRecorder* fileRecorder = nullptr;
    // The status bar's text while no figures are known.
    QString idleStatusText;
    // The size of the recording's event file, for its bandwidth.
    qint64 recordingBytes = 0;
    // ---- end of camera side ----

    // ---- settings pages (MainWidgetSettings.cpp) ----
private:
    // The three side-bar pages, the camera page shown.
    void createSettingPages();
    // The open camera's tool of this type, null without a live camera.
    std::shared_ptr<sorvane::CameraTool> cameraTool(sorvane::ToolType type) const;
    // The region marked on the image: the camera's ROI for a live camera, what is shown of an
    // event recording. A null region clears it.
    void applyRegion(const QRect& region);
    // A new source starts with no region.
    void clearRegion();
    // After a camera has been opened: its tools to the DVS and APS pages; the slow rate is fixed
    // while a live camera is the source.
    void showCameraToolsInSettings();
    // When a recording is opened: no camera tools, and the slow rate back in use.
    void clearCameraToolsForPlayback();
    // The one place where the display settings reach the processors.
    void applyAccumulationTime(uint64_t time_us);
    void applyFrameRate(uint32_t fps);

    QPointer<SidebarCameraSettingUI> cameraSettingPage;
    QPointer<SidebarDvsSettingUI> dvsSettingPage;
    QPointer<SidebarApsSettingUI> apsSettingPage;
    // ---- end of settings pages ----
};
