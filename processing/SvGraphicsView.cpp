#include "processing/SvGraphicsView.h"

#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPen>
#include <QResizeEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {
constexpr double zoomStep = 1.1;
// A press and release closer than this is a click, not a drag.
constexpr int clickSlack = 3;
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

void SvGraphicsView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ShiftModifier) && scene()) {
        marking = true;
        dragFrom = mapToScene(event->position().toPoint());
        event->accept();
        return;
    }
    pressedWithoutDrag = event->button() == Qt::LeftButton;
    pressedAt = event->position().toPoint();
    QGraphicsView::mousePressEvent(event);
}

void SvGraphicsView::mouseMoveEvent(QMouseEvent* event)
{
    if (marking) {
        setMarked(pixelsBetween(dragFrom, mapToScene(event->position().toPoint())), false);
        event->accept();
        return;
    }
    if ((event->position().toPoint() - pressedAt).manhattanLength() > clickSlack)
        pressedWithoutDrag = false;
    QGraphicsView::mouseMoveEvent(event);
}

void SvGraphicsView::mouseReleaseEvent(QMouseEvent* event)
{
    if (marking) {
        marking = false;
        const QPointF to = mapToScene(event->position().toPoint());
        const bool dragged = (mapFromScene(to) - mapFromScene(dragFrom)).manhattanLength() > clickSlack;
        setMarked(dragged ? pixelsBetween(dragFrom, to) : QRect(), true);
        event->accept();
        return;
    }
    if (pressedWithoutDrag && event->button() == Qt::LeftButton
        && (event->position().toPoint() - pressedAt).manhattanLength() <= clickSlack && !marked.isNull())
        setMarked(QRect(), true);
    pressedWithoutDrag = false;
    QGraphicsView::mouseReleaseEvent(event);
}

void SvGraphicsView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && !marked.isNull()) {
        setMarked(QRect(), true);
        event->accept();
        return;
    }
    QGraphicsView::keyPressEvent(event);
}

void SvGraphicsView::showRegion(const QRect& region)
{
    setMarked(region, false);
}

QRect SvGraphicsView::pixelsBetween(QPointF a, QPointF b)
{
    return QRect(QPoint(int(std::floor(std::min(a.x(), b.x()))), int(std::floor(std::min(a.y(), b.y())))),
                 QPoint(int(std::floor(std::max(a.x(), b.x()))), int(std::floor(std::max(a.y(), b.y())))));
}

void SvGraphicsView::setMarked(const QRect& region, bool report)
{
    const QRect image = scene() ? scene()->sceneRect().toAlignedRect() : QRect();
    const QRect held = region.isNull() ? QRect() : region.intersected(image);
    marked = held;
    if (!scene())
        return;
    if (!outline) {
        outline = scene()->addRect(QRectF(), QPen(QColor(0xFF, 0xC4, 0x00), 0));
        outline->setZValue(1);
    }
    // Drawn around the pixels, so that a one-pixel region still shows.
    outline->setRect(held.isNull() ? QRectF() : QRectF(held.topLeft(), held.size()));
    outline->setVisible(!held.isNull());
    if (report)
        emit regionChanged(held);
}
