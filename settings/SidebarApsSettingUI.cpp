#include "settings/SidebarApsSettingUI.h"

#include "settings/SettingItemBox.h"
#include "settings/SettingRows.h"

#include <QDebug>

SidebarApsSettingUI::SidebarApsSettingUI(QWidget* parent)
    : SidebarSettingPage(tr("APS Setting"), parent)
{
}

void SidebarApsSettingUI::resetApsToolUI()
{
    setApsToolUI(nullptr);
}

void SidebarApsSettingUI::setApsToolUI(std::shared_ptr<sorvane::CameraTool> tool)
{
    removeGroup(apsBox);
    if (!tool) {
        qDebug() << "camera device is null .";
        return;
    }
    apsBox = buildToolGroup(tool, tr("APS"), "camera aps infos is null .",
                            [&](SettingItemBox* box, const std::string& name, const sorvane::BasicParameterInfo& info) {
        if (QWidget* row = parameterRow(tool, name, info))
            box->addItemWidget(row);
    });
    if (apsBox)
        showGroup(apsBox);
}
