#pragma once
// The "DVS Setting" page: one group per camera tool, generated from the parameters the tool
// describes, so the camera decides which rows exist. Every change in a row is written to the
// camera at once.
#include "settings/SidebarSettingPage.h"

#include "SorvaneHal/CameraTool.h"
#include "app/SvMessageType.h"

#include <memory>
#include <string>

class SettingBaseWithLineEdit;

class SidebarDvsSettingUI : public SidebarSettingPage {
    Q_OBJECT
public:
    using ToolPtr = std::shared_ptr<sorvane::CameraTool>;

    explicit SidebarDvsSettingUI(QWidget* parent = nullptr);

    // Each rebuilds its group from tool; an empty tool only removes the group.
    void setBiasesToolUI(ToolPtr tool);
    void setTriggerInToolUI(ToolPtr tool);
    void setAntiFlickerToolUI(ToolPtr tool);
    void setEventRateControlToolUI(ToolPtr tool);
    void setEventTrailFilterToolUI(ToolPtr tool);
    void setROIToolUI(ToolPtr tool);
    // Removes every group; the tools are kept.
    void resetToolUIs();

    // Bias presets: every current bias to a "name value" file, and such a file back to the
    // camera and the rows. The file work runs in the background; the outcome is told in a tip,
    // and a load names all refused lines at once.
    void saveBiasPreset(const QString& path);
    void loadBiasPreset(const QString& path);

signals:
    void signalCumulativeTimeChanged(uint64_t time_us);
    void signalFpsChanged(uint32_t fps);
    void signalShowLeftBottomTips(QString tips, SvMessageType type, QString file_path);

public slots:
    void onBiasSliderValueChanged(std::string name, int value);
    void onTriggerInSliderValueChanged(std::string name, bool value);
    void onAntiFlickerSliderValueChanged(std::string name, int value);
    void onAntiFlickerSliderValueChanged(std::string name, bool value);
    void onAntiFlickerSliderFloatValueChanged(std::string name, int value);
    void onAntiFlickerSliderEnumValueChanged(std::string name, std::string value);
    void onEventRateControlSliderValueChanged(std::string name, int value);
    void onEventRateControlSliderValueChanged(std::string name, bool value);
    void onEventTrailFilterSliderValueChanged(std::string name, int value);
    void onEventTrailFilterSliderValueChanged(std::string name, bool en);
    void onEventTrailFilterSliderValueChanged(std::string name, std::string value);
    void onROISliderValueChanged(std::string name, int value);
    void onROISliderValueChanged(std::string name, bool value);
    void onROISliderValueChanged(std::string name, std::string value);
    void slotCumulativeTimeChanged(uint64_t time_us);
    void slotFpsChanged(uint32_t fps);

protected:
    // The preset file to save to or load from; empty when cancelled. Tests answer without the
    // system dialog by overriding it.
    virtual QString chooseBiasPresetFile(bool forSaving);

private:
    QWidget* makeBiasPresetButtons();
    // Writes a preset's text to the camera and the rows.
    void applyBiasPreset(const QString& text);
    // The row of a filter's number, switch or list, appended in the tool's order and reporting
    // to the group's slot; a list is left out when the group has no slot for one.
    void addFilterRow(SettingItemBox* box, const ToolPtr& tool, const std::string& name,
                      const sorvane::BasicParameterInfo& info, void (SidebarDvsSettingUI::*onInt)(std::string, int),
                      void (SidebarDvsSettingUI::*onBool)(std::string, bool),
                      void (SidebarDvsSettingUI::*onEnum)(std::string, std::string));
    // A row's write for the ROI window: all its fields turn red while the camera refuses it.
    bool writeRoiValue(const std::string& name, int value);

    ToolPtr biasesTool;
    ToolPtr triggerInTool;
    ToolPtr antiFlickerTool;
    ToolPtr eventRateControlTool;
    ToolPtr eventTrailFilterTool;
    ToolPtr roiTool;
    QPointer<SettingItemBox> biasesBox;
    QPointer<SettingItemBox> triggerInBox;
    QPointer<SettingItemBox> antiFlickerBox;
    QPointer<SettingItemBox> eventRateControlBox;
    QPointer<SettingItemBox> eventTrailFilterBox;
    QPointer<SettingItemBox> roiBox;
    QList<QPointer<SettingBaseWithLineEdit>> roiRows;
};
