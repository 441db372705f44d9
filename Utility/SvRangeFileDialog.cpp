#include "Utility/SvRangeFileDialog.h"

#include "widgets/SVMessageBox.h"
#include "widgets/SvWindowAgent.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QStyle>

SvRangeFileDialog::SvRangeFileDialog(QWidget* parent)
    : QDialog(parent)
{
}

void SvRangeFileDialog::bindFields(const Fields& boundFields)
{
    fields = boundFields;
    setAttribute(Qt::WA_TranslucentBackground);
    windowAgent = new SvWindowAgent(this);
    windowAgent->setup(this);
    windowAgent->setTitleBar(fields.titleName);
    // The close button keeps its own slot; the agent only has to know it is not a drag area.
    windowAgent->setSystemButton(SvWindowAgent::Close, fields.closeButton);

    for (QLineEdit* field : {fields.startTime, fields.endTime})
        connect(field, &QLineEdit::textChanged, this, [this, field] { markTimeField(field); });
    fields.onlyRegion->hide();
}

void SvRangeFileDialog::setRegion(const QRect& marked)
{
    region = marked;
    fields.onlyRegion->setVisible(!marked.isNull());
    fields.onlyRegion->setChecked(!marked.isNull());
    fields.onlyRegion->setToolTip(marked.isNull() ? QString()
                                                  : QStringLiteral("x %1..%2, y %3..%4")
                                                        .arg(marked.left())
                                                        .arg(marked.right())
                                                        .arg(marked.top())
                                                        .arg(marked.bottom()));
}

QRect SvRangeFileDialog::chosenRegion() const
{
    return fields.onlyRegion->isChecked() ? region : QRect();
}

void SvRangeFileDialog::setStartTime(uint64_t start_us)
{
    fields.startTime->setText(QString::number(start_us));
}

void SvRangeFileDialog::setEndTime(uint64_t end_us)
{
    fields.endTime->setText(QString::number(end_us));
}

void SvRangeFileDialog::setFilePath(const QString& folder)
{
    fields.folder->setText(folder);
}

void SvRangeFileDialog::setFileName(const QString& name)
{
    fields.fileName->setText(name);
}

uint64_t SvRangeFileDialog::parseTime(const QString& text)
{
    bool ok = false;
    const qulonglong value = text.toULongLong(&ok, 10);
    return ok ? value : 0;
}

uint64_t SvRangeFileDialog::getStartTime() const
{
    return parseTime(fields.startTime->text());
}

uint64_t SvRangeFileDialog::getEndTime() const
{
    return parseTime(fields.endTime->text());
}

QString SvRangeFileDialog::getFilePath() const
{
    return fields.folder->text() + "/" + fields.fileName->text();
}

QString SvRangeFileDialog::getFileDir() const
{
    return fields.folder->text();
}

void SvRangeFileDialog::on_pb_save_clicked()
{
    replaceAgreed = false;
    if (!confirmSave())
        return;
    // Anything but a file there (a folder, say) is left to the writer to refuse.
    if (QFileInfo(getFilePath()).isFile()) {
        SVMessageBox box(tr("%1 exists already. Replace it?").arg(QDir::toNativeSeparators(getFilePath())), tr("Tips"),
                         tr("Replace"), tr("Cancel"), this);
        if (box.exec() != QDialog::Accepted)
            return;
        replaceAgreed = true;
    }
    accept();
}

void SvRangeFileDialog::on_pb_cancel_clicked()
{
    close();
}

void SvRangeFileDialog::on_pb_win_close_clicked()
{
    close();
}

void SvRangeFileDialog::on_pb_select_dir_clicked()
{
    const QString folder = chooseDirectory(fields.folder->text());
    if (!folder.isEmpty())
        fields.folder->setText(folder);
}

QString SvRangeFileDialog::chooseDirectory(const QString& start)
{
    return QFileDialog::getExistingDirectory(this, directoryCaption(), start,
        QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
}

void SvRangeFileDialog::on_pb_start_time_plus_clicked()
{
    stepTime(fields.startTime, true);
}

void SvRangeFileDialog::on_pb_start_time_sub_clicked()
{
    stepTime(fields.startTime, false);
}

void SvRangeFileDialog::on_pb_end_time_plus_clicked()
{
    stepTime(fields.endTime, true);
}

void SvRangeFileDialog::on_pb_end_time_sub_clicked()
{
    stepTime(fields.endTime, false);
}

void SvRangeFileDialog::stepTime(QLineEdit* field, bool later)
{
    const uint64_t now = parseTime(field->text());
    uint64_t next = 0;
    if (later)
        next = now > UINT64_MAX - timeStep ? UINT64_MAX : now + timeStep;
    else
        next = now > timeStep ? now - timeStep : 0;
    field->setText(QString::number(next));
}

// A time that will read as 0 gets the invalid border; it is a hint, the dialog still accepts.
void SvRangeFileDialog::markTimeField(QLineEdit* field)
{
    bool ok = false;
    field->text().toULongLong(&ok, 10);
    const bool invalid = !ok && !field->text().isEmpty();
    if (field->property("invalid").toBool() == invalid)
        return;
    field->setProperty("invalid", invalid);
    field->style()->unpolish(field);
    field->style()->polish(field);
}
