#include "settings/SettingRows.h"

#include "settings/SettingBaseWithComboBox.h"
#include "settings/SettingBaseWithLineEdit.h"
#include "settings/SettingBaseWithSwitchButton.h"
#include "settings/SettingItemBox.h"

#include <QDebug>

SettingBaseWithLineEdit* makeIntRow(const std::string& name, const sorvane::IntParameterInfo& info, int value)
{
    auto* row = new SettingBaseWithLineEdit(name);
    row->setItemToolTip(QString::fromStdString(info.description));
    row->setItemRange(info.min, info.max);
    row->setItemValue(value);
    row->setItemUnit(info.unit);
    return row;
}

SettingBaseWithLineEdit* makeFloatRow(const std::string& name, const sorvane::FloatParameterInfo& info)
{
    sorvane::IntParameterInfo whole;
    whole.description = info.description;
    whole.min = int(info.min);
    whole.max = int(info.max);
    whole.unit = info.unit;
    return makeIntRow(name, whole, int(info.defaultValue));
}

SettingBaseWithSwitchButton* makeBoolRow(const std::string& name, const sorvane::BasicParameterInfo& info, bool checked)
{
    auto* row = new SettingBaseWithSwitchButton(name);
    row->setItemToolTip(QString::fromStdString(info.description));
    row->setChecked(checked);
    return row;
}

SettingBaseWithComboBox* makeEnumRow(const std::string& name, const sorvane::EnumParameterInfo& info)
{
    auto* row = new SettingBaseWithComboBox(name);
    row->setItemToolTip(QString::fromStdString(info.description));
    for (const std::string& option : info.options)
        row->addItem(QString::fromStdString(option));
    return row;
}

SettingItemBox* buildToolGroup(const std::shared_ptr<sorvane::CameraTool>& tool, const QString& title,
                               const char* noParameters, const AddRow& addRow)
{
    sorvane::ParameterInfoMap infos;
    tool->getAllParameterInfo(infos);
    if (infos.empty()) {
        qDebug() << noParameters;
        return nullptr;
    }
    auto* box = new SettingItemBox;
    box->setTitle(title);
    for (const auto& [name, info] : infos)
        addRow(box, name, info);
    box->setRestoreDefaultsVisible(true);
    QObject::connect(box, &SettingItemBox::signalRestoreDefaults, box, [box, tool] { restoreToolDefaults(*tool, box); });
    return box;
}

void restoreToolDefaults(sorvane::CameraTool& tool, SettingItemBox* box)
{
    for (QWidget* widget : box->rows()) {
        if (auto* row = qobject_cast<SettingBaseWithLineEdit*>(widget)) {
            const std::string name = row->parameterName();
            sorvane::IntParameterInfo intInfo;
            sorvane::FloatParameterInfo floatInfo;
            if (tool.getIntParameterInfo(name, intInfo)) {
                row->setValidState(tool.setIntParameter(name, intInfo.defaultValue));
                row->showItemValue(intInfo.defaultValue);
            } else if (tool.getFloatParameterInfo(name, floatInfo)) {
                row->setValidState(tool.setFloatParameter(name, floatInfo.defaultValue));
                row->showItemValue(int(floatInfo.defaultValue));
            }
        } else if (auto* row = qobject_cast<SettingBaseWithSwitchButton*>(widget)) {
            sorvane::BoolParameterInfo info;
            if (tool.getBoolParameterInfo(row->parameterName(), info) && tool.setBoolParameter(info.name, info.defaultValue))
                row->setChecked(info.defaultValue);
        } else if (auto* row = qobject_cast<SettingBaseWithComboBox*>(widget)) {
            sorvane::EnumParameterInfo info;
            if (!tool.getEnumParameterInfo(row->parameterName(), info) || info.options.empty())
                continue;
            const std::string option = info.defaultValue.empty() ? info.options.front() : info.defaultValue;
            if (tool.setEnumParameter(info.name, option))
                row->showItem(QString::fromStdString(option));
        }
    }
}
