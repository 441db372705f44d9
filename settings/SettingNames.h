#pragma once
// The labels the rows show for camera parameter names (lower-case words joined by '_').
#include <QString>

#include <string>

// bias_diff_on -> "Bias Diff On": every word's first letter in upper case, '_' as a blank.
QString toDisplayName(const std::string& name);
