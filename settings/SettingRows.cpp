#include "settings/SettingRows.h"

#include "settings/SettingBaseWithComboBox.h"
#include "settings/SettingBaseWithLineEdit.h"
#include "settings/SettingBaseWithSwitchButton.h"
#include "settings/SettingItemBox.h"
#include "settings/SettingNames.h"

#include <QCoreApplication>
#include <QDebug>

#include <cmath>

namespace {

// Decimal parameters are edited to this many digits after the point.
constexpr int floatDecimals = 2;

SettingBaseWithLineEdit* makeNumberRow(const std::string& name, const std::string& description, double min,
                                       double max, double value, const std::string& unit, int decimals)
{
    auto* row = new SettingBaseWithLineEdit(name);
    row->setItemToolTip(QString::fromStdString(description));
    row->setDecimals(decimals);
    row->setItemRange(min, max);
    row->setItemValue(value);
    row->setItemUnit(unit);
    return row;
}

QString refusalText(const std::string& name, const QString& wanted, const QString& held)
{
    return QCoreApplication::translate("SettingRows", "The camera refused %1 %2 and keeps %3.")
        .arg(toDisplayName(name), wanted, held);
}

// The value the camera holds for a number row's parameter, whichever its type.
double heldNumber(const sorvane::CameraTool& tool, const std::string& name, bool isFloat)
{
    if (isFloat) {
        float value = 0;
        tool.getFloatParameter(name, value);
        return value;
    }
    int value = 0;
    tool.getIntParameter(name, value);
    return value;
}

void connectNumberRow(SettingBaseWithLineEdit* row, const ToolPtr& tool, bool isFloat, const RefusalTip& refused)
{
    QObject::connect(row, &SettingBaseWithLineEdit::signalItemValueChanged, row,
                     [row, tool, isFloat, refused](const std::string& name, double wanted) {
        const bool accepted = isFloat ? tool->setFloatParameter(name, float(wanted))
                                      : tool->setIntParameter(name, int(std::lround(wanted)));
        row->setValidState(accepted);
        if (accepted)
            return;
        const double held = heldNumber(*tool, name, isFloat);
        row->showItemValue(held);
        const int decimals = isFloat ? floatDecimals : 0;
        refused(refusalText(name, QString::number(wanted, 'f', decimals), QString::number(held, 'f', decimals)));
    });
}

} // namespace

SettingBaseWithLineEdit* makeIntRow(const std::string& name, const sorvane::IntParameterInfo& info, int value)
{
    return makeNumberRow(name, info.description, info.min, info.max, value, info.unit, 0);
}

SettingBaseWithLineEdit* makeFloatRow(const std::string& name, const sorvane::FloatParameterInfo& info, float value)
{
    return makeNumberRow(name, info.description, info.min, info.max, value, info.unit, floatDecimals);
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

QWidget* makeParameterRow(const ToolPtr& tool, const std::string& name, const sorvane::BasicParameterInfo& info,
                          const RefusalTip& refused)
{
    switch (info.type) {
    case sorvane::ParameterInt: {
        sorvane::IntParameterInfo intInfo;
        if (!tool->getIntParameterInfo(name, intInfo))
            return nullptr;
        int value = intInfo.defaultValue;
        tool->getIntParameter(name, value);
        auto* row = makeIntRow(name, intInfo, value);
        connectNumberRow(row, tool, false, refused);
        return row;
    }
    case sorvane::ParameterFloat: {
        sorvane::FloatParameterInfo floatInfo;
        if (!tool->getFloatParameterInfo(name, floatInfo))
            return nullptr;
        float value = floatInfo.defaultValue;
        tool->getFloatParameter(name, value);
        auto* row = makeFloatRow(name, floatInfo, value);
        connectNumberRow(row, tool, true, refused);
        return row;
    }
    case sorvane::ParameterBool: {
        sorvane::BoolParameterInfo boolInfo;
        if (!tool->getBoolParameterInfo(name, boolInfo))
            return nullptr;
        bool checked = boolInfo.defaultValue;
        tool->getBoolParameter(name, checked);
        auto* row = makeBoolRow(name, boolInfo, checked);
        QObject::connect(row, &SettingBaseWithSwitchButton::signalItemValueChanged, row,
                         [row, tool, refused](const std::string& rowName, bool wanted) {
            if (tool->setBoolParameter(rowName, wanted))
                return;
            row->setChecked(!wanted);
            refused(refusalText(rowName, wanted ? "on" : "off", wanted ? "off" : "on"));
        });
        return row;
    }
    case sorvane::ParameterEnum: {
        sorvane::EnumParameterInfo enumInfo;
        if (!tool->getEnumParameterInfo(name, enumInfo))
            return nullptr;
        auto* row = makeEnumRow(name, enumInfo);
        std::string held;
        if (tool->getEnumParameter(name, held))
            row->showItem(QString::fromStdString(held));
        QObject::connect(row, &SettingBaseWithComboBox::signalItemValueChanged, row,
                         [row, tool, refused](const std::string& rowName, const std::string& wanted) {
            if (tool->setEnumParameter(rowName, wanted))
                return;
            std::string kept;
            tool->getEnumParameter(rowName, kept);
            row->showItem(QString::fromStdString(kept));
            refused(refusalText(rowName, QString::fromStdString(wanted), QString::fromStdString(kept)));
        });
        return row;
    }
    }
    return nullptr;
}

SettingItemBox* buildToolGroup(const ToolPtr& tool, const QString& title, const char* noParameters, const AddRow& addRow)
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
                row->showItemValue(heldNumber(tool, name, false));
            } else if (tool.getFloatParameterInfo(name, floatInfo)) {
                row->setValidState(tool.setFloatParameter(name, floatInfo.defaultValue));
                row->showItemValue(heldNumber(tool, name, true));
            }
        } else if (auto* row = qobject_cast<SettingBaseWithSwitchButton*>(widget)) {
            sorvane::BoolParameterInfo info;
            bool held = false;
            if (tool.getBoolParameterInfo(row->parameterName(), info)) {
                tool.setBoolParameter(info.name, info.defaultValue);
                if (tool.getBoolParameter(info.name, held))
                    row->setChecked(held);
            }
        } else if (auto* row = qobject_cast<SettingBaseWithComboBox*>(widget)) {
            sorvane::EnumParameterInfo info;
            if (!tool.getEnumParameterInfo(row->parameterName(), info) || info.options.empty())
                continue;
            tool.setEnumParameter(info.name, info.defaultValue.empty() ? info.options.front() : info.defaultValue);
            std::string held;
            if (tool.getEnumParameter(info.name, held))
                row->showItem(QString::fromStdString(held));
        }
    }
}
