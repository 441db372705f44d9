#pragma once
// Rows made from a camera's parameter descriptions, showing the values the camera holds. Building
// a row never writes to the camera; a connected row writes each change the user makes, then shows
// the value the camera holds, so a refused value never looks set.
#include "SorvaneHal/CameraTool.h"

#include <QString>

#include <functional>
#include <memory>

class QWidget;
class SettingBaseWithComboBox;
class SettingBaseWithLineEdit;
class SettingBaseWithSwitchButton;
class SettingItemBox;

using ToolPtr = std::shared_ptr<sorvane::CameraTool>;
// Told why a written value did not stay as written.
using RefusalTip = std::function<void(const QString& message)>;

SettingBaseWithLineEdit* makeIntRow(const std::string& name, const sorvane::IntParameterInfo& info, int value);
SettingBaseWithLineEdit* makeFloatRow(const std::string& name, const sorvane::FloatParameterInfo& info, float value);
SettingBaseWithSwitchButton* makeBoolRow(const std::string& name, const sorvane::BasicParameterInfo& info, bool checked);
SettingBaseWithComboBox* makeEnumRow(const std::string& name, const sorvane::EnumParameterInfo& info);

// The row of any of tool's parameters with the value the camera holds, connected to write through
// to tool and to mark the row and tell refused when the camera keeps another value. Null when the
// tool does not describe the parameter.
QWidget* makeParameterRow(const ToolPtr& tool, const std::string& name, const sorvane::BasicParameterInfo& info,
                          const RefusalTip& refused);

// Builds the group of tool's parameters: addRow is called for each description in name order.
// The group offers to restore the tool's defaults. Null, with debug line noParameters, when the
// tool describes no parameter.
using AddRow = std::function<void(SettingItemBox* box, const std::string& name, const sorvane::BasicParameterInfo& info)>;
SettingItemBox* buildToolGroup(const ToolPtr& tool, const QString& title, const char* noParameters, const AddRow& addRow);

// Writes the default of every parameter that has a row in box, and shows what the camera then
// holds there without the rows reporting it again. Number rows show whether the camera accepted
// their default.
void restoreToolDefaults(sorvane::CameraTool& tool, SettingItemBox* box);
