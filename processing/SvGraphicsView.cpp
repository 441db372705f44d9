#include "processing/SvGraphicsView.h"

#include <QMouseEvent>
#include <QResizeEvent>
#include <QWheelEvent>

namespace {
constexpr double zoomStep = 1.1;
}

SvGraphicsView::SvGraphicsView(QWidget* parent)
    : QGraphicsView(parent)
{
    setDragMode(QGraphicsView::ScrollHandDrag);
    setResizeAnchor(QGraphicsView::NoAnchor);
    setTransformationAnchor(QGraphicsView::AnchorUnderMouse);
    setContentsMargins(0, 0, 0, 0);
    setStyleSheet(QStringLiteral("border: 0px;"));
}

void SvGraphicsView::wheelEvent(QWheelEvent* event)
{
    // The limits are tested before the step, so the last step in may pass maxScale once.
    if (event->angleDelta().y() >= 1) {
        if (currentScale < maxScale) {
            scale(zoomStep, zoomStep);
            currentScale *= zoomStep;
        }
    } else if (currentScale > minScale) {
        scale(1.0 / zoomStep, 1.0 / zoomStep);
        currentScale /= zoomStep;
    }
    // Never passed on: the wheel zooms and does not scroll.
    event->accept();
}

void SvGraphicsView::mouseDoubleClickEvent(QMouseEvent* event)
{
    currentScale = 1.0;
    if (scene())
        fitInView(scene()->sceneRect(), Qt::KeepAspectRatio);
    QGraphicsView::mouseDoubleClickEvent(event);
}

void SvGraphicsView::resizeEvent(QResizeEvent* event)
{
    // The owning form refits the image on its own resize; the count restarts with that fit.
    currentScale = 1.0;
    QGraphicsView::resizeEvent(event);
}
