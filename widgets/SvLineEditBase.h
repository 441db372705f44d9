#pragma once
// Styled line edit that reports focus gain (true) and loss (false) through signalMouseHoverd;
// the grey border turns primary while it has the focus.
#include <QLineEdit>

class SvLineEditBase : public QLineEdit {
    Q_OBJECT
public:
    explicit SvLineEditBase(QWidget* parent = nullptr);

    void setBorderColor(const QString& colour);

signals:
    void signalMouseHoverd(bool focused);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};
