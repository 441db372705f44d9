#pragma once
// Camera parameter names (lower-case words joined by '_') and the labels the rows show for them.
#include <QString>

#include <string>

// bias_diff_on -> "Bias Diff On": every word's first letter in upper case, '_' as a blank.
QString toDisplayName(const std::string& name);
// The inverse for lower-case names: "Bias Diff On" -> bias_diff_on.
std::string toParameterName(const QString& text);
