#include "settings/BiasPreset.h"

#include <QCoreApplication>
#include <QRegularExpression>

QString formatBiasPreset(const BiasValues& values)
{
    QString text = QStringLiteral("# Sorvane bias preset: name value\n");
    for (const auto& [name, value] : values)
        text += QString::fromStdString(name) + ' ' + QString::number(value) + '\n';
    return text;
}

BiasValues parseBiasPreset(const QString& text, QStringList& problems)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    BiasValues values;
    const QStringList lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].section('#', 0, 0).trimmed();
        if (line.isEmpty())
            continue;
        const QStringList fields = line.split(blanks);
        bool ok = false;
        const int value = fields.size() == 2 ? fields[1].toInt(&ok, 10) : 0;
        if (!ok) {
            problems.append(QCoreApplication::translate("BiasPreset", "line %1 is not \"name value\"").arg(i + 1));
            continue;
        }
        values.emplace_back(fields[0].toStdString(), value);
    }
    return values;
}
