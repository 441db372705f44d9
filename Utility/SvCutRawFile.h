#pragma once
// The cut dialog behind "Cut Recording": the range of the open .raw recording to copy into a
// new .raw file, and that file's folder and name.
#include "Utility/SvRangeFileDialog.h"

#include <QDateTime>

namespace Ui {
class SvCutRawFile;
}

class SvCutRawFile : public SvRangeFileDialog {
    Q_OBJECT
public:
    explicit SvCutRawFile(QWidget* parent = nullptr);
    ~SvCutRawFile() override;

    // The name proposed for a file made at `at`: local time "yyyyMMdd_HHmmss" + ".raw".
    static QString proposedFileName(const QDateTime& at);

protected:
    QString directoryCaption() const override;

private:
    Ui::SvCutRawFile* ui;
};
