#pragma once
// The export dialog behind "Save as...": the range of the open .raw recording to render as a
// video, and the .mp4 file's folder and name.
#include "Utility/SvRangeFileDialog.h"

#include <QDateTime>

namespace Ui {
class SvExportVideoUI;
}

class SvExportVideoUI : public SvRangeFileDialog {
    Q_OBJECT
public:
    explicit SvExportVideoUI(QWidget* parent = nullptr);
    ~SvExportVideoUI() override;

    // The name proposed for a file made at `at`: local time "yyyyMMdd_HHmmss" + ".mp4".
    static QString proposedFileName(const QDateTime& at);

protected:
    QString directoryCaption() const override;

private:
    Ui::SvExportVideoUI* ui;
};
