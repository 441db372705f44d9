#include "widgets/SVComboBoxBase.h"

#include <QApplication>
#include <QFrame>
#include <QListView>
#include <QWheelEvent>

void NoFocusFrameDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const
{
    QStyleOptionViewItem itemOption(option);
    initStyleOption(&itemOption, index);
    itemOption.state &= ~QStyle::State_HasFocus;
    QStyledItemDelegate::paint(painter, itemOption, index);
}

SVComboBoxBase::SVComboBoxBase(QWidget* parent)
    : QComboBox(parent)
{
    // The sliding animation leaves the styled popup half drawn for a moment.
    QApplication::setEffectEnabled(Qt::UI_AnimateCombo, false);
    auto* listView = new QListView(this);
    listView->setItemDelegate(new NoFocusFrameDelegate(listView));
    setView(listView);
    // The container exists once a view is set; its shadow clashes with the flat popup style.
    if (QWidget* container = view()->parentWidget();
        container && qstrcmp(container->metaObject()->className(), "QComboBoxPrivateContainer") == 0) {
        container->setWindowFlag(Qt::NoDropShadowWindowHint, true);
    }
}

void SVComboBoxBase::showPopup()
{
    emit popupShown();
    QComboBox::showPopup();
    // Leaves a 2 px gap under the framed box so the popup does not cover its border.
    if (auto* popupFrame = findChild<QFrame*>()) {
        popupFrame->move(popupFrame->x(), popupFrame->y() + 2);
    }
}

void SVComboBoxBase::hidePopup()
{
    emit popupHidden();
    QComboBox::hidePopup();
}

void SVComboBoxBase::wheelEvent(QWheelEvent* event)
{
    event->ignore();
}
