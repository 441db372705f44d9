#include "Utility/SvCutRawFile.h"

#include "ui_SvCutRawFile.h"

SvCutRawFile::SvCutRawFile(QWidget* parent)
    : SvRangeFileDialog(parent)
    , ui(new Ui::SvCutRawFile)
{
    ui->setupUi(this);
    bindFields({ui->le_save_file_path, ui->le_file_name, ui->le_start_time, ui->le_end_time,
        ui->widget_title_name, ui->pb_win_close, ui->cb_only_region});
}

SvCutRawFile::~SvCutRawFile()
{
    delete ui;
}

QString SvCutRawFile::proposedFileName(const QDateTime& at)
{
    return at.toString(QStringLiteral("yyyyMMdd_HHmmss")) + QStringLiteral(".raw");
}

QString SvCutRawFile::directoryCaption() const
{
    return tr("Select Directory");
}
