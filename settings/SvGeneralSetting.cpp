#include "settings/SvGeneralSetting.h"

#include "app/ConfigStore.h"
#include "ui_SvGeneralSetting.h"
#include "widgets/SVComboBoxBase.h"
#include "widgets/SvWindowAgent.h"

#include <QDir>
#include <QIntValidator>
#include <QLineEdit>
#include <QFileDialog>
#include <QPushButton>
#include <QTemporaryFile>

#include <algorithm>

namespace {

// What the store keeps and the trigger handler compares with, whatever the language shown.
const char* const risingEdge = "Rising Edge";
const char* const fallingEdge = "Falling Edge";

uint32_t secondsOf(const QLineEdit* edit)
{
    bool ok = false;
    const uint32_t seconds = edit->text().toUInt(&ok, 10);
    return ok ? std::min(seconds, ConfigStore::maxTriggerInSeconds) : 0;
}

void stepSeconds(QLineEdit* edit, int step)
{
    const uint32_t seconds = secondsOf(edit);
    if (step < 0 && seconds == 0)
        return;
    edit->setText(QString::number(std::min(int64_t(seconds) + step, int64_t(ConfigStore::maxTriggerInSeconds))));
}

} // namespace

SvGeneralSetting::SvGeneralSetting(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::SvGeneralSetting)
{
    ui->setupUi(this);
    ui->tw_settings->tabBar()->hide();
    auto* windowAgent = new SvWindowAgent(this);
    windowAgent->setup(this);
    windowAgent->setTitleBar(ui->widget_title_bar);
    windowAgent->setSystemButton(SvWindowAgent::Close, ui->pb_win_close);
    // Enter in any field saves, as in the cut and export dialogs; without this the first
    // button in the form, the title bar's close, would take it. Escape still cancels.
    for (QPushButton* button : findChildren<QPushButton*>())
        button->setAutoDefault(false);
    ui->pb_save->setDefault(true);
    for (QLineEdit* seconds : {ui->le_trigger_in_before_time, ui->le_trigger_in_after_time})
        seconds->setValidator(new QIntValidator(0, int(ConfigStore::maxTriggerInSeconds), seconds));
    ui->cb_trigger_in_edge->setEditEnabled(false);
    ui->widget_combobox_color_theme->setEditEnabled(false);
    config = ConfigStore::instance();
    loadFields();
}

SvGeneralSetting::~SvGeneralSetting()
{
    delete ui;
}

void SvGeneralSetting::loadFields()
{
    ui->le_default_file_path->setText(config->outputRawFilePath);
    ui->le_default_video_file_path->setText(config->videoSavePath);

    QComboBox* edge = ui->cb_trigger_in_edge->comboBox();
    edge->addItem(tr("Rising Edge"), QString(risingEdge));
    edge->addItem(tr("Falling Edge"), QString(fallingEdge));
    ui->sb_trigger_in_rec_enable->setChecked(config->triggerInRecEnable);
    edge->setCurrentIndex(config->triggerInRecEdgeType == risingEdge ? 0 : 1);

    ui->le_trigger_in_before_time->setText(QString::number(config->beforeTriggerInSaveTime));
    ui->le_trigger_in_after_time->setText(QString::number(config->afterTriggerInSaveTime));

    QComboBox* colours = ui->widget_combobox_color_theme->comboBox();
    colours->addItems(ConfigStore::colorTypes());
    colours->setCurrentText(config->colorType);

    ui->lw_general_setting_items->setCurrentRow(0);
}

void SvGeneralSetting::on_pb_win_close_clicked()
{
    close();
}

void SvGeneralSetting::on_pb_cancel_clicked()
{
    close();
}

void SvGeneralSetting::on_pb_save_clicked()
{
    config->videoSavePath = ui->le_default_video_file_path->text();
    config->outputRawFilePath = ui->le_default_file_path->text();
    config->triggerInRecEnable = ui->sb_trigger_in_rec_enable->isChecked();
    config->triggerInRecEdgeType = ui->cb_trigger_in_edge->comboBox()->currentData().toString();
    config->beforeTriggerInSaveTime = secondsOf(ui->le_trigger_in_before_time);
    config->afterTriggerInSaveTime = secondsOf(ui->le_trigger_in_after_time);
    config->colorType = ui->widget_combobox_color_theme->comboBox()->currentText();
    config->save();
    checkFolder(config->outputRawFilePath);
    checkFolder(config->videoSavePath);
    emit signalTriggerInSaveFileParamChanged();
    accept();
}

void SvGeneralSetting::checkFolder(const QString& folder)
{
    bool usable = !folder.isEmpty() && ensureDirectory(folder);
    if (usable) {
        // The folder's permission bits do not tell about read-only mounts or ACLs: try it.
        QTemporaryFile probe(QDir(folder).filePath("write_check_XXXXXX"));
        usable = probe.open();
    }
    if (!usable)
        emit signalShowLeftBottomTips(tr("The folder cannot be created or written: ") + QDir::toNativeSeparators(folder),
                                      Warning, QString());
}

QString SvGeneralSetting::chooseFolder(const QString& start)
{
    return QFileDialog::getExistingDirectory(this, tr("Select Directory"), start,
                                             QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
}

void SvGeneralSetting::on_pb_select_dir_clicked()
{
    const QString folder = chooseFolder(config->outputRawFilePath);
    if (!folder.isEmpty())
        ui->le_default_file_path->setText(folder);
}

void SvGeneralSetting::on_pb_select_video_save_path_clicked()
{
    const QString folder = chooseFolder(config->videoSavePath);
    if (!folder.isEmpty())
        ui->le_default_video_file_path->setText(folder);
}

void SvGeneralSetting::on_pb_add_trigger_in_before_time_clicked()
{
    stepSeconds(ui->le_trigger_in_before_time, +1);
}

void SvGeneralSetting::on_pb_sub_trigger_in_before_time_clicked()
{
    stepSeconds(ui->le_trigger_in_before_time, -1);
}

void SvGeneralSetting::on_pb_add_trigger_in_after_time_clicked()
{
    stepSeconds(ui->le_trigger_in_after_time, +1);
}

void SvGeneralSetting::on_pb_sub_trigger_in_after_time_clicked()
{
    stepSeconds(ui->le_trigger_in_after_time, -1);
}

void SvGeneralSetting::on_lw_general_setting_items_currentRowChanged(int currentRow)
{
    ui->tw_settings->setCurrentIndex(currentRow);
}
