#pragma once
// Popups (tooltips, tips toasts) placed by their own rules can land past a screen's edge: this
// moves them the least that shows them whole on the screen of the widget they belong to.
#include <QPoint>
#include <QSize>

class QWidget;

QPoint keptOnScreen(QPoint topLeft, QSize size, const QWidget* shownFor);
