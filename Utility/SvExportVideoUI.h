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

    // How the export paints: one frame per step_us of the recording whose events span
    // [first_us, last_us]. Saving a range of very many frames asks first.
    void setFrameStep(uint64_t step_us, uint64_t first_us, uint64_t last_us);

protected:
    QString directoryCaption() const override;
    bool confirmSave() override;

private:
    Ui::SvExportVideoUI* ui;
    uint64_t frameStep = 0;
    uint64_t firstEvent = 0;
    uint64_t lastEvent = 0;
};
