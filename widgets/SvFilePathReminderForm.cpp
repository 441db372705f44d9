#include "widgets/SvFilePathReminderForm.h"

#include "ui_SvFilePathReminderForm.h"
#include "widgets/SvStyleSheet.h"

#include <QDebug>
#include <QDesktopServices>
#include <QTimer>
#include <QUrl>

namespace {
struct TipLook {
    QString background;
    QString border;
    QString icon;
};

void applyLook(Ui::SvFilePathReminderForm* ui, const TipLook& look, const QString& title)
{
    QString frameStyle = ui->widget_item->styleSheet();
    frameStyle = SvStyleSheet::replaceDeclaration(frameStyle, "background-color",
                                                  "background-color: " + look.background + ";");
    frameStyle = SvStyleSheet::replaceDeclaration(frameStyle, "border",
                                                  "border: 1px solid " + look.border + ";");
    ui->widget_item->setStyleSheet(frameStyle);
    ui->lb_title->setStyleSheet(SvStyleSheet::replaceDeclaration(
        ui->lb_title->styleSheet(), "color", "color: " + look.border + ";"));
    ui->lb_title->setText(title);
    ui->pb_logo->setIcon(QIcon(look.icon));
}
} // namespace

SvFilePathReminderForm::SvFilePathReminderForm(const QString& tips, SvMessageType type,
                                               const QString& filePath, QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::SvFilePathReminderForm)
    , type(type)
    , filePath(filePath)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose);
    ui->lb_show_tips->setText(tips);
    if (filePath.isEmpty()) {
        ui->pb_open_dir->hide();
    }
    switch (type) {
    case Warning:
        applyLook(ui, {"#FEFBF4", "#F9BF37", ":/img/assets/icon_tips_warning.png"}, tr("Warning"));
        break;
    case Error:
        applyLook(ui, {"#FFF6F6", "#FF6058", ":/img/assets/icon_tips_error.png"}, tr("Error"));
        break;
    default:
        // The form's own look is the success tip; only the title goes through the translation.
        ui->lb_title->setText(tr("Success"));
        break;
    }
    adjustSize();
    QTimer::singleShot(lifetimeMs, this, &SvFilePathReminderForm::onTimeupDestroy);
}

SvFilePathReminderForm::~SvFilePathReminderForm()
{
    delete ui;
}

QString SvFilePathReminderForm::tips() const
{
    return ui->lb_show_tips->text();
}

void SvFilePathReminderForm::onTimeupDestroy()
{
    deleteLater();
}

void SvFilePathReminderForm::on_pb_open_dir_clicked()
{
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(filePath))) {
        qDebug() << "Failed to open directory.";
    }
}

void SvFilePathReminderForm::on_pb_close_clicked()
{
    close();
}
