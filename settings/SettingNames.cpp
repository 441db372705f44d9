#include "settings/SettingNames.h"

QString toDisplayName(const std::string& name)
{
    QString text = QString::fromStdString(name);
    bool wordStart = true;
    for (QChar& c : text) {
        if (c.isSpace() || c == u'_') {
            wordStart = true;
        } else if (c.isLetter() && wordStart) {
            c = c.toUpper();
            wordStart = false;
        }
    }
    text.replace(u'_', u' ');
    return text;
}
