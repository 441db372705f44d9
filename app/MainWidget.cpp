#include "app/MainWidget.h"

MainWidget::MainWidget(QWidget* parent)
    : QWidget(parent)
{
    resize(1280, 800);
}
