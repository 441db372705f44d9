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

SettingItemBox* buildToolGroup(const sorvane::CameraTool& tool, const QString& title, const char* noParameters,
                               const AddRow& addRow)
{
    sorvane::ParameterInfoMap infos;
    tool.getAllParameterInfo(infos);
    if (infos.empty()) {
        qDebug() << noParameters;
        return nullptr;
    }
    auto* box = new SettingItemBox;
    box->setTitle(title);
    for (const auto& [name, info] : infos)
        addRow(box, name, info);
    return box;
}
