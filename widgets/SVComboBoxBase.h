#pragma once
// Drop-down list of the widget kit: reports its popup opening and closing, never changes its
// selection on the mouse wheel (the wheel scrolls the surrounding page instead) and paints its
// entries without a focus frame.
#include <QComboBox>
#include <QStyledItemDelegate>

class NoFocusFrameDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

class SVComboBoxBase : public QComboBox {
    Q_OBJECT
public:
    explicit SVComboBoxBase(QWidget* parent = nullptr);

    void showPopup() override;
    void hidePopup() override;

signals:
    void popupShown();
    void popupHidden();

protected:
    void wheelEvent(QWheelEvent* event) override;
};
