#pragma once
// The start-up splash: logo and version, closed by its button or by itself after two seconds.
#include <QDialog>

namespace Ui {
class InitDialog;
}

class InitDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* Version = "1.1.3";
    static constexpr int ShowTimeMs = 2000;

    explicit InitDialog(QWidget* parent = nullptr);
    ~InitDialog() override;

private slots:
    void on_btn_close_clicked();

private:
    Ui::InitDialog* ui;
};
