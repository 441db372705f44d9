#pragma once
// The "APS Setting" page: the frame sensor of a fusion camera, generated from its APS tool like
// the DVS groups.
#include "settings/SidebarSettingPage.h"

#include "SorvaneHal/CameraTool.h"

#include <memory>
#include <string>

class SidebarApsSettingUI : public SidebarSettingPage {
    Q_OBJECT
public:
    explicit SidebarApsSettingUI(QWidget* parent = nullptr);

    // Rebuilds the "APS" group; an empty tool only removes it.
    void setApsToolUI(std::shared_ptr<sorvane::CameraTool> tool);
    void resetApsToolUI();

private:
    QPointer<SettingItemBox> apsBox;
};
