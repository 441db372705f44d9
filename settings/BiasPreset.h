#pragma once
// Bias preset files: one "name value" line per bias, '#' starts a comment. Users exchange them
// between cameras and programs, so reading is forgiving about blanks and strict about values.
#include <QString>
#include <QStringList>

#include <string>
#include <utility>
#include <vector>

using BiasValues = std::vector<std::pair<std::string, int>>;

// Presets are a few lines; anything larger is not one.
inline constexpr qint64 maxBiasPresetBytes = 64 * 1024;

QString formatBiasPreset(const BiasValues& values);
// The well-formed lines in file order; every other non-comment line is named in problems.
BiasValues parseBiasPreset(const QString& text, QStringList& problems);
