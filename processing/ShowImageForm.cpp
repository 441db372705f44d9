#include "processing/ShowImageForm.h"

#include "processing/SvGraphicsView.h"
#include "ui_ShowImageForm.h"

#include <QColor>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>

ShowImageForm::ShowImageForm(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::ShowImageForm)
{
    ui->setupUi(this);
    scene = new QGraphicsScene(this);
    pixmap = QPixmap(imageWidth, imageHeight);
    pixmap.fill(QColor(0x70, 0x70, 0x70));
    pixmapItem = scene->addPixmap(pixmap);
    ui->graphicsView->setScene(scene);
    ui->graphicsView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui->graphicsView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

ShowImageForm::~ShowImageForm()
{
    delete ui;
}

SvGraphicsView* ShowImageForm::view() const
{
    return ui->graphicsView;
}

void ShowImageForm::slotShowImage(QImage image)
{
    pixmap = QPixmap::fromImage(image);
    pixmapItem->setPixmap(pixmap);
}

void ShowImageForm::showPixMap(QPixmap pixmap)
{
    this->pixmap = pixmap;
    pixmapItem->setPixmap(this->pixmap);
}

void ShowImageForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    fitImage();
}

void ShowImageForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    fitImage();
}

void ShowImageForm::fitImage()
{
    if (!pixmap.isNull())
        ui->graphicsView->fitInView(pixmapItem, Qt::KeepAspectRatio);
}
