#pragma once
// Framed drop-down list: the frame and the text light up in the primary colour while the list
// is open or its text is being edited. A choice from the list reads as a finished edit.
#include <QMetaObject>
#include <QWidget>

class SVComboBoxBase;

namespace Ui {
class SvComboBox;
}

class SvComboBox : public QWidget {
    Q_OBJECT
public:
    explicit SvComboBox(QWidget* parent = nullptr);
    ~SvComboBox() override;

    SVComboBoxBase* comboBox() const;
    // Writable edit that reports its changes, or a read-only one.
    void setEditEnabled(bool enabled);
    void setFrameColor(const QString& colour);
    void setTextColor(const QString& colour);
    // Replaces the declaration of property in the inner list's style sheet by declaration.
    void setStyleProperty(const QString& property, const QString& declaration);

signals:
    void signalLineEditTextChanged(QString arg1);
    void signalLineEditEditingFinished();

private:
    Ui::SvComboBox* ui;
    QMetaObject::Connection textChangedConnection;
    QMetaObject::Connection editingFinishedConnection;
};
