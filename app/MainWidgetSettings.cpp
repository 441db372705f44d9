// The settings side of the main window: the three side-bar pages, the camera tools handed to
// them, the display settings routed to the processors, and the general settings dialog.
#include "app/MainWidget.h"

#include "SorvaneHal/CameraTools.h"
#include "processing/SvEventProcessor.h"
#include "processing/SvFusionCameraDataProcessor.h"
#include "settings/SidebarApsSettingUI.h"
#include "settings/SidebarCameraSettingUI.h"
#include "settings/SidebarDvsSettingUI.h"
#include "settings/SvGeneralSetting.h"
#include "ui_MainWidget.h"

void MainWidget::createSettingPages()
{
    cameraSettingPage = new SidebarCameraSettingUI(ui->frame_setting);
    apsSettingPage = new SidebarApsSettingUI(ui->frame_setting);
    dvsSettingPage = new SidebarDvsSettingUI(ui->frame_setting);
    for (QWidget* page : {static_cast<QWidget*>(cameraSettingPage), static_cast<QWidget*>(apsSettingPage),
                          static_cast<QWidget*>(dvsSettingPage)})
        ui->layout_sidebar_setting->addWidget(page);
    apsSettingPage->hide();
    dvsSettingPage->hide();
    settingPages[0] = cameraSettingPage;
    settingPages[1] = dvsSettingPage;
    settingPages[2] = apsSettingPage;
    ui->pb_fold_setting->setChecked(true);

    connect(cameraSettingPage, &SidebarCameraSettingUI::signalCumulativeTimeChanged, this, &MainWidget::slotSetBatchEventsTime);
    connect(cameraSettingPage, &SidebarCameraSettingUI::signalCumulativeTimeChanged, this, &MainWidget::applyAccumulationTime);
    connect(cameraSettingPage, &SidebarCameraSettingUI::signalFpsChanged, this, &MainWidget::applyFrameRate);
    for (SidebarSettingPage* page : {static_cast<SidebarSettingPage*>(dvsSettingPage), static_cast<SidebarSettingPage*>(apsSettingPage)})
        connect(page, &SidebarSettingPage::signalShowLeftBottomTips, this,
                qOverload<QString, SvMessageType, QString>(&MainWidget::slotShowLeftBottomTips));
}

// Every processor that turns events into images takes the display settings here.
void MainWidget::applyAccumulationTime(uint64_t time_us)
{
    eventProcessor->setAccTime(time_us);
    fusionProcessor->setAccTime(time_us);
}

void MainWidget::applyFrameRate(uint32_t fps)
{
    eventProcessor->setFps(int(fps));
    fusionProcessor->setFps(int(fps));
}

std::shared_ptr<sorvane::CameraTool> MainWidget::cameraTool(sorvane::ToolType type) const
{
    if (sourceMode == LiveDvsCamera && dvsCamera)
        return dvsCamera->getTool(type);
    if (sourceMode == LiveFusionCamera && fusionCamera)
        return fusionCamera->getTool(type);
    return nullptr;
}

void MainWidget::showCameraToolsInSettings()
{
    using sorvane::ToolType;
    auto toolOf = [this](ToolType type) { return cameraTool(type); };
    dvsSettingPage->setBiasesToolUI(toolOf(ToolType::Biases));
    dvsSettingPage->setTriggerInToolUI(toolOf(ToolType::TriggerIn));
    dvsSettingPage->setAntiFlickerToolUI(toolOf(ToolType::AntiFlicker));
    dvsSettingPage->setEventRateControlToolUI(toolOf(ToolType::EventRateControl));
    dvsSettingPage->setEventTrailFilterToolUI(toolOf(ToolType::EventTrailFilter));
    dvsSettingPage->setROIToolUI(toolOf(ToolType::Roi));
    // An event camera has no frame sensor: the page must not keep the fusion camera's before it.
    apsSettingPage->setApsToolUI(toolOf(ToolType::Aps));
    if (dvsCamera || fusionCamera)
        cameraSettingPage->setSlowRateEnabled(false);
}

void MainWidget::clearCameraToolsForPlayback()
{
    apsSettingPage->resetApsToolUI();
    dvsSettingPage->resetToolUIs();
    cameraSettingPage->setSlowRateEnabled(true);
}

void MainWidget::openGeneralSettings()
{
    SvGeneralSetting dialog(this);
    connect(&dialog, &SvGeneralSetting::signalTriggerInSaveFileParamChanged, this, &MainWidget::initDvsCameraSettings);
    connect(&dialog, &SvGeneralSetting::signalShowLeftBottomTips, this,
            qOverload<QString, SvMessageType, QString>(&MainWidget::slotShowLeftBottomTips));
    dialog.exec();
    ui->pb_fold_general_setting->setChecked(false);
}

void MainWidget::applyRegion(const QRect& region)
{
    if (sourceMode == RawFile) {
        eventProcessor->setShownRegion(region);
        return;
    }
    if (sourceMode == FusionFile) {
        fusionProcessor->setShownRegion(region);
        return;
    }
    const std::shared_ptr<sorvane::CameraTool> roi = cameraTool(sorvane::ToolType::Roi);
    if (!roi)
        return;
    namespace param = sorvane::param;
    bool accepted = true;
    if (region.isNull()) {
        accepted = roi->setBoolParameter(param::Enable, false);
    } else {
        // Widened first, so that the corners stay in order at every write.
        sorvane::IntParameterInfo widest;
        for (const auto& [name, value] : {std::pair{param::RoiX0, 0}, {param::RoiY0, 0}})
            roi->setIntParameter(name, value);
        for (const char* name : {param::RoiX1, param::RoiY1})
            if (roi->getIntParameterInfo(name, widest))
                roi->setIntParameter(name, widest.max);
        for (const auto& [name, value] : {std::pair{param::RoiX0, region.left()}, {param::RoiY0, region.top()},
                                          {param::RoiX1, region.right()}, {param::RoiY1, region.bottom()}})
            accepted = roi->setIntParameter(name, value) && accepted;
        accepted = roi->setBoolParameter(param::Enable, true) && accepted;
    }
    dvsSettingPage->setROIToolUI(roi);
    if (!accepted)
        emit signalShowLeftBottomTips(tr("The camera refused the region; its ROI rows show what it keeps."), Warning,
                                      QString());
}
