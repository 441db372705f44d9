#pragma once
// Frameless question box with a title, a message and two buttons: the open (confirm) button
// accepts, the close (cancel) button and the title bar's close button reject.
#include <QDialog>

namespace Ui {
class SVMessageBox;
}

class SVMessageBox : public QDialog {
    Q_OBJECT
public:
    SVMessageBox(const QString& message, const QString& title, const QString& openText,
                 const QString& closeText, QWidget* parent = nullptr);
    ~SVMessageBox() override;

    // A box that only informs keeps its open button, disabled.
    void setOpenEnabled(bool enabled);

private slots:
    void on_pb_open_clicked();
    void on_pb_close_clicked();
    void on_pb_win_close_clicked();

private:
    Ui::SVMessageBox* ui;
};
