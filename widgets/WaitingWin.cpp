#include "widgets/WaitingWin.h"

#include "ui_WaitingWin.h"

#include <QCloseEvent>
#include <QDebug>
#include <QMovie>

#include <algorithm>

WaitingWin::WaitingWin(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::WaitingWin)
    , movie(new QMovie(":/img/icon/waiting.gif", QByteArray(), this))
    , centreOn(parent)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setModal(true);
    ui->label_waiting->setMovie(movie);
    ui->pb_cancel->hide();
    connect(ui->pb_cancel, &QPushButton::clicked, this, [this] {
        ui->pb_cancel->setEnabled(false);
        emit cancelRequested();
    });
}

WaitingWin::~WaitingWin()
{
    delete ui;
}

QString WaitingWin::progressText() const
{
    return ui->label_progress->text();
}

void WaitingWin::setProgress(int percent)
{
    if (percent < 0) {
        ui->label_progress->clear();
        return;
    }
    ui->label_progress->setText(QString::number(std::min(percent, 100)) + "%");
}

void WaitingWin::updatePosition()
{
    if (isVisible()) {
        centreOnParent();
    }
}

void WaitingWin::finish()
{
    movie->stop();
    done(QDialog::Rejected);
}

void WaitingWin::setCancelable(bool cancelable)
{
    ui->pb_cancel->setVisible(cancelable);
}

void WaitingWin::showEvent(QShowEvent* event)
{
    ui->pb_cancel->setEnabled(true);
    centreOnParent();
    if (movie->isValid()) {
        ui->label_waiting->setMovie(movie);
        movie->start();
    } else {
        qDebug() << "GIF is not valid or not found";
    }
    QDialog::showEvent(event);
}

void WaitingWin::closeEvent(QCloseEvent* event)
{
    // Only finish() ends the wait.
    event->ignore();
}

void WaitingWin::centreOnParent()
{
    if (!centreOn) {
        return;
    }
    const QRect parentRect(centreOn->mapToGlobal(QPoint(0, 0)), centreOn->size());
    move(parentRect.center() - QPoint(width() / 2, height() / 2));
}
