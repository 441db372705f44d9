#pragma once
// The "DVS Setting" page: one group per camera tool, generated from the parameters the tool
// describes, so the camera decides which rows exist. Every change in a row is written to the
// camera at once, and a value the camera refuses is told in a warning tip.
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
    // Removes every group and lets the tools go.
    void resetToolUIs();

    // Bias presets: every current bias to a "name value" file, and such a file back to the
    // camera and the rows. The file work runs in the background; the outcome is told in a tip,
    // and a load names all refused lines at once.
    void saveBiasPreset(const QString& path);
    void loadBiasPreset(const QString& path);

signals:
    void signalCumulativeTimeChanged(uint64_t time_us);
    void signalFpsChanged(uint32_t fps);

public slots:
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
    // Appends row when there is one.
    static void addRow(SettingItemBox* box, QWidget* row);
    // A row's write for the ROI window: all its fields turn red while the camera refuses it.
    bool writeRoiValue(const std::string& name, int value);

    ToolPtr biasesTool;
    ToolPtr roiTool;
    QPointer<SettingItemBox> biasesBox;
    QPointer<SettingItemBox> triggerInBox;
    QPointer<SettingItemBox> antiFlickerBox;
    QPointer<SettingItemBox> eventRateControlBox;
    QPointer<SettingItemBox> eventTrailFilterBox;
    QPointer<SettingItemBox> roiBox;
    QList<QPointer<SettingBaseWithLineEdit>> roiRows;
};
