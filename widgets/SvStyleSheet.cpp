#include "widgets/SvStyleSheet.h"

#include <QRegularExpression>

namespace SvStyleSheet {

QString replaceDeclaration(const QString& styleSheet, const QString& property,
                           const QString& declaration)
{
    // The property must stand alone: "color" must not hit "background-color", nor "border"
    // hit "border-radius".
    const QRegularExpression pattern("((?<![-\\w])" + QRegularExpression::escape(property)
                                     + "\\s*:[^;]*;)");
    const QRegularExpressionMatch match = pattern.match(styleSheet);
    if (!match.hasMatch()) {
        return styleSheet + declaration;
    }
    QString result = styleSheet;
    result.replace(match.capturedStart(1), match.capturedLength(1), declaration);
    return result;
}

} // namespace SvStyleSheet
