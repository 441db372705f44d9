#include "Utility/SvExportVideoUI.h"

#include "ui_SvExportVideoUI.h"

#include "SorvaneDriver/Video/VideoExport.h"
#include "widgets/SVMessageBox.h"

SvExportVideoUI::SvExportVideoUI(QWidget* parent)
    : SvRangeFileDialog(parent)
    , ui(new Ui::SvExportVideoUI)
{
    ui->setupUi(this);
    bindFields({ui->le_save_file_path, ui->le_file_name, ui->le_start_time, ui->le_end_time,
        ui->widget_title_name, ui->pb_win_close, ui->cb_only_region});
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

void SvExportVideoUI::setFrameStep(uint64_t step_us, uint64_t first_us, uint64_t last_us)
{
    frameStep = step_us;
    firstEvent = first_us;
    lastEvent = last_us;
}

bool SvExportVideoUI::confirmSave()
{
    // A wide range of a sparse recording can be hours of video.
    const uint64_t frames = sorvane::exportedFrameCount(getStartTime(), getEndTime(), firstEvent, lastEvent, frameStep);
    if (frames <= sorvane::kLargeExportFrames)
        return true;
    SVMessageBox box(tr("The export writes %1 frames and takes a long time. Export them all?").arg(frames), tr("Tips"),
                     tr("Export"), tr("Cancel"), this);
    return box.exec() == QDialog::Accepted;
}
