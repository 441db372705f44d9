#include "app/InitDialog.h"

#include "ui_InitDialog.h"
#include "widgets/SvWindowAgent.h"

#include <QDebug>
#include <QGraphicsDropShadowEffect>
#include <QTimer>

InitDialog::InitDialog(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::InitDialog)
{
    ui->setupUi(this);
    auto* agent = new SvWindowAgent(this);
    agent->setup(this);
    agent->setTitleBar(ui->widget_header);
    agent->setSystemButton(SvWindowAgent::Close, ui->btn_close);
    setAttribute(Qt::WA_TranslucentBackground);

    auto* shadow = new QGraphicsDropShadowEffect(this);
    shadow->setOffset(0, 0);
    shadow->setColor(QColor("#444444"));
    shadow->setBlurRadius(30);
    setGraphicsEffect(shadow);
    setContentsMargins(10, 10, 10, 10);

    QTimer::singleShot(ShowTimeMs, this, &InitDialog::close);
    qDebug() << "SorvaneViewer Version: " << Version;
    ui->lb_version->setText(tr("Version: ") + Version);
}

InitDialog::~InitDialog()
{
    delete ui;
}

void InitDialog::on_btn_close_clicked()
{
    close();
}
