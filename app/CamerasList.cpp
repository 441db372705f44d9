#include "app/CamerasList.h"

#include "ui_CamerasList.h"

#include "widgets/SvWindowAgent.h"

#include <QPushButton>

CamerasList::CamerasList(const std::vector<sorvane::CameraDescription>& descs, QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::CamerasList)
    , centreOver(parent)
{
    ui->setupUi(this);
    auto* agent = new SvWindowAgent(this);
    agent->setup(this);
    agent->setTitleBar(ui->widget_title_bar);

    connect(ui->pb_open, &QPushButton::clicked, this, &CamerasList::accept);
    connect(ui->listWidget_cameras, &QListWidget::itemDoubleClicked, this, &CamerasList::accept);
    connect(ui->pb_close, &QPushButton::clicked, this, &CamerasList::reject);

    ui->listWidget_cameras->setIconSize(QSize(24, 24));
    const QIcon icon(":/img/assets/btn_camera.svg");
    for (const auto& desc : descs)
        ui->listWidget_cameras->addItem(new QListWidgetItem(icon, QString::fromStdString(desc.serial)));
    if (!descs.empty())
        ui->listWidget_cameras->setCurrentRow(0);
}

CamerasList::~CamerasList()
{
    delete ui;
}

bool CamerasList::getSelectedIndex(int& index) const
{
    const int row = ui->listWidget_cameras->currentRow();
    if (row == -1)
        return false;
    index = row;
    return true;
}

void CamerasList::accept()
{
    QDialog::accept();
}

void CamerasList::on_pb_win_close_clicked()
{
    close();
}

void CamerasList::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!centreOver)
        return;
    const QPoint origin = centreOver->mapToGlobal(QPoint(0, 0));
    move(origin.x() + (centreOver->width() - width()) / 2, origin.y() + (centreOver->height() - height()) / 2);
}
