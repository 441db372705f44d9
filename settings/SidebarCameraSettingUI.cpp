#include "settings/SidebarCameraSettingUI.h"

#include "settings/SettingDisplayItem.h"
#include "settings/SettingItemBox.h"

SidebarCameraSettingUI::SidebarCameraSettingUI(QWidget* parent)
    : SidebarSettingPage(tr("Camera Setting"), parent)
{
    setupDisplayUI();
}

void SidebarCameraSettingUI::setupDisplayUI()
{
    removeGroup(displayBox);
    displayBox = new SettingItemBox;
    displayBox->setTitle(tr("Display"));
    displayItem = new SettingDisplayItem;
    displayBox->addItemWidget(displayItem);
    connect(displayItem, &SettingDisplayItem::signalCumulativeTimeChanged, this,
            &SidebarCameraSettingUI::slotCumulativeTimeChanged);
    connect(displayItem, &SettingDisplayItem::signalFpsChanged, this, &SidebarCameraSettingUI::slotFpsChanged);
    showGroup(displayBox);
}

void SidebarCameraSettingUI::setSlowRateEnabled(bool enabled)
{
    if (displayItem)
        displayItem->setSlowRateEnabled(enabled);
}

void SidebarCameraSettingUI::slotCumulativeTimeChanged(uint64_t time_us)
{
    emit signalCumulativeTimeChanged(time_us);
}

void SidebarCameraSettingUI::slotFpsChanged(uint32_t fps)
{
    emit signalFpsChanged(fps);
}
