#pragma once
// The bottom-left toast of the main window: a Success, Warning or Error tip with its text and,
// when a path is given, an "Open Dir" button that opens that folder. It deletes itself 3 s after
// construction, or when closed.
#include "app/SvMessageType.h"

#include <QWidget>

namespace Ui {
class SvFilePathReminderForm;
}

class SvFilePathReminderForm : public QWidget {
    Q_OBJECT
public:
    static constexpr int lifetimeMs = 3000;

    SvFilePathReminderForm(const QString& tips, SvMessageType type, const QString& filePath,
                           QWidget* parent = nullptr);
    ~SvFilePathReminderForm() override;

    QString tips() const;
    SvMessageType messageType() const { return type; }
    QString path() const { return filePath; }

public slots:
    void onTimeupDestroy();

private slots:
    void on_pb_open_dir_clicked();
    void on_pb_close_clicked();

private:
    Ui::SvFilePathReminderForm* ui;
    SvMessageType type;
    QString filePath;
};
