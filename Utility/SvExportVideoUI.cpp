#include "Utility/SvExportVideoUI.h"

#include "ui_SvExportVideoUI.h"

SvExportVideoUI::SvExportVideoUI(QWidget* parent)
    : SvRangeFileDialog(parent)
    , ui(new Ui::SvExportVideoUI)
{
    ui->setupUi(this);
    bindFields({ui->le_save_file_path, ui->le_file_name, ui->le_start_time, ui->le_end_time,
        ui->widget_title_name, ui->pb_win_close});
}

SvExportVideoUI::~SvExportVideoUI()
{
    delete ui;
}

QString SvExportVideoUI::proposedFileName(const QDateTime& at)
{
    return at.toString(QStringLiteral("yyyyMMdd_HHmmss")) + QStringLiteral(".mp4");
}

QString SvExportVideoUI::directoryCaption() const
{
    return tr("Select Directory");
}
