#pragma once
// The "Camera Setting" page: the display settings that shape how events become images. The
// accumulation time and the slow rate chosen here are passed on as signals.
#include "settings/SidebarSettingPage.h"

#include <cstdint>

class SettingDisplayItem;

class SidebarCameraSettingUI : public SidebarSettingPage {
    Q_OBJECT
public:
    explicit SidebarCameraSettingUI(QWidget* parent = nullptr);

    void setSlowRateEnabled(bool enabled);

signals:
    void signalCumulativeTimeChanged(uint64_t time_us);
    void signalFpsChanged(uint32_t fps);

public slots:
    void slotCumulativeTimeChanged(uint64_t time_us);
    void slotFpsChanged(uint32_t fps);

private:
    void setupDisplayUI();

    QPointer<SettingItemBox> displayBox;
    QPointer<SettingDisplayItem> displayItem;
};
