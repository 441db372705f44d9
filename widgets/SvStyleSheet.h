#pragma once
// Edits one declaration of a style sheet, leaving the others as they are.
#include <QString>

namespace SvStyleSheet {

// Replaces the first declaration of property (its name, a ':' and the value up to ';') by
// declaration, or appends declaration when there is none.
QString replaceDeclaration(const QString& styleSheet, const QString& property,
                           const QString& declaration);

} // namespace SvStyleSheet
