#include "widgets/SvLineEditBase.h"

#include "widgets/SvStyleSheet.h"

SvLineEditBase::SvLineEditBase(QWidget* parent)
    : QLineEdit(parent)
{
    setAlignment(Qt::AlignCenter);
    setStyleSheet("color: #646464; border: 1px solid #ACACAC; border-radius: 3px;");
}

void SvLineEditBase::setBorderColor(const QString& colour)
{
    setStyleSheet(SvStyleSheet::replaceDeclaration(styleSheet(), "border",
                                                   "border: 1px solid " + colour + ";"));
}

void SvLineEditBase::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    setBorderColor("#004B6A");
    emit signalMouseHoverd(true);
}

void SvLineEditBase::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    setBorderColor("#ACACAC");
    emit signalMouseHoverd(false);
}
