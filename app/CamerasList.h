#pragma once
// The modal list in which the user picks one of the attached cameras. Row i stands for the i-th
// description given to the constructor.
#include <SorvaneHal/CameraTypes.h>

#include <QDialog>

#include <vector>

namespace Ui {
class CamerasList;
}

class CamerasList : public QDialog {
    Q_OBJECT
public:
    CamerasList(const std::vector<sorvane::CameraDescription>& descs, QWidget* parent = nullptr);
    ~CamerasList() override;

    // False when no row is current; otherwise true with the row, an index into the descriptions.
    bool getSelectedIndex(int& index) const;

public slots:
    void accept() override;

private slots:
    void on_pb_win_close_clicked();

protected:
    void showEvent(QShowEvent* event) override;

private:
    Ui::CamerasList* ui;
    QWidget* centreOver = nullptr; // the main window
};
