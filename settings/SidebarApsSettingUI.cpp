#include "settings/SidebarApsSettingUI.h"

#include "settings/SettingBaseWithLineEdit.h"
#include "settings/SettingBaseWithSwitchButton.h"
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
    apsTool = tool;
    apsBox = buildToolGroup(tool, tr("APS"), "camera aps infos is null .",
                            [&](SettingItemBox* box, const std::string& name, const sorvane::BasicParameterInfo& info) {
        QWidget* row = nullptr;
        if (info.type == sorvane::ParameterBool) {
            sorvane::BoolParameterInfo boolInfo;
            if (!tool->getBoolParameterInfo(info.name, boolInfo))
                return;
            auto* switchRow = makeBoolRow(name, boolInfo, boolInfo.defaultValue);
            connect(switchRow, &SettingBaseWithSwitchButton::signalItemValueChanged, this,
                    &SidebarApsSettingUI::onApsBoolValueChanged);
            row = switchRow;
        } else if (info.type == sorvane::ParameterInt) {
            sorvane::IntParameterInfo intInfo;
            if (!tool->getIntParameterInfo(info.name, intInfo))
                return;
            auto* intRow = makeIntRow(name, intInfo, intInfo.defaultValue);
            connect(intRow, &SettingBaseWithLineEdit::signalItemValueChanged, this,
                    &SidebarApsSettingUI::onApsSliderValueChanged);
            row = intRow;
        } else if (info.type == sorvane::ParameterFloat) {
            sorvane::FloatParameterInfo floatInfo;
            if (!tool->getFloatParameterInfo(info.name, floatInfo))
                return;
            auto* floatRow = makeFloatRow(name, floatInfo);
            connect(floatRow, &SettingBaseWithLineEdit::signalItemValueChanged, this,
                    &SidebarApsSettingUI::onApsSliderFloatValueChanged);
            row = floatRow;
        }
        if (row)
            box->addItemWidget(row);
    });
    if (apsBox)
        showGroup(apsBox);
}

void SidebarApsSettingUI::onApsBoolValueChanged(std::string name, bool value)
{
    apsTool->setBoolParameter(name, value);
}

void SidebarApsSettingUI::onApsSliderValueChanged(std::string name, int value)
{
    apsTool->setIntParameter(name, value);
}

void SidebarApsSettingUI::onApsSliderFloatValueChanged(std::string name, int value)
{
    apsTool->setFloatParameter(name, float(value));
}
