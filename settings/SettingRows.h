#pragma once
// Rows made from a camera's parameter descriptions, with their initial state set and not yet
// connected: whatever a row reports before its page connects it goes nowhere, so building a
// page never writes to the camera.
#include "SorvaneHal/CameraTool.h"

#include <QString>

#include <functional>
#include <memory>

class SettingBaseWithComboBox;
class SettingBaseWithLineEdit;
class SettingBaseWithSwitchButton;
class SettingItemBox;

SettingBaseWithLineEdit* makeIntRow(const std::string& name, const sorvane::IntParameterInfo& info, int value);
// Range and default truncated toward zero: the row edits whole numbers.
SettingBaseWithLineEdit* makeFloatRow(const std::string& name, const sorvane::FloatParameterInfo& info);
SettingBaseWithSwitchButton* makeBoolRow(const std::string& name, const sorvane::BasicParameterInfo& info, bool checked);
SettingBaseWithComboBox* makeEnumRow(const std::string& name, const sorvane::EnumParameterInfo& info);

// Builds the group of tool's parameters: addRow is called for each description in name order.
// The group offers to restore the tool's defaults. Null, with debug line noParameters, when the
// tool describes no parameter.
using AddRow = std::function<void(SettingItemBox* box, const std::string& name, const sorvane::BasicParameterInfo& info)>;
SettingItemBox* buildToolGroup(const std::shared_ptr<sorvane::CameraTool>& tool, const QString& title,
                               const char* noParameters, const AddRow& addRow);

// Writes the default of every parameter that has a row in box, and shows it there without the
// rows reporting it again. Integer rows show whether the camera accepted their default.
void restoreToolDefaults(sorvane::CameraTool& tool, SettingItemBox* box);
