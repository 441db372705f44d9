#pragma once
// The general settings dialog: trigger-in recording, default folders and the event colours.
// Nothing reaches the configuration store before "Save"; then the store is written and the
// trigger-in settings are re-applied by whoever listens to signalTriggerInSaveFileParamChanged.
#include "app/SvMessageType.h"

#include <QDialog>

class ConfigStore;

namespace Ui {
class SvGeneralSetting;
}

class SvGeneralSetting : public QDialog {
    Q_OBJECT
public:
    explicit SvGeneralSetting(QWidget* parent = nullptr);
    ~SvGeneralSetting() override;

signals:
    void signalTriggerInSaveFileParamChanged();
    void signalShowLeftBottomTips(QString tips, SvMessageType type, QString file_path);

public slots:
    void on_pb_win_close_clicked();
    void on_pb_cancel_clicked();
    void on_pb_save_clicked();
    void on_pb_select_dir_clicked();
    void on_pb_select_video_save_path_clicked();
    void on_pb_add_trigger_in_before_time_clicked();
    void on_pb_sub_trigger_in_before_time_clicked();
    void on_pb_add_trigger_in_after_time_clicked();
    void on_pb_sub_trigger_in_after_time_clicked();
    void on_lw_general_setting_items_currentRowChanged(int currentRow);

protected:
    // The folder the user picks, starting at start; empty when cancelled. Tests pick without the
    // system dialog by overriding it.
    virtual QString chooseFolder(const QString& start);

private:
    void loadFields();
    // A folder that does not exist is created; one that cannot be created or written is named
    // in a warning now rather than failing the first recording.
    void checkFolder(const QString& folder);

    Ui::SvGeneralSetting* ui;
    ConfigStore* config = nullptr;
};
