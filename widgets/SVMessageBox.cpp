#include "widgets/SVMessageBox.h"

#include "ui_SVMessageBox.h"
#include "widgets/SvWindowAgent.h"

SVMessageBox::SVMessageBox(const QString& message, const QString& title, const QString& openText,
                           const QString& closeText, QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::SVMessageBox)
{
    ui->setupUi(this);
    auto* windowAgent = new SvWindowAgent(this);
    windowAgent->setup(this);
    windowAgent->setTitleBar(ui->widget_title_bar);
    windowAgent->setSystemButton(SvWindowAgent::Close, ui->pb_win_close);
    setAttribute(Qt::WA_TranslucentBackground);
    ui->lb_show_message->setText(message);
    ui->lb_title->setText(title);
    ui->pb_open->setText(openText);
    ui->pb_close->setText(closeText);
}

SVMessageBox::~SVMessageBox()
{
    delete ui;
}

void SVMessageBox::setOpenEnabled(bool enabled)
{
    ui->pb_open->setEnabled(enabled);
}

void SVMessageBox::on_pb_open_clicked()
{
    accept();
}

void SVMessageBox::on_pb_close_clicked()
{
    reject();
}

void SVMessageBox::on_pb_win_close_clicked()
{
    close();
}
