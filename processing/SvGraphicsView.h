#pragma once
// The image view: zoomed with the wheel around the pointer, panned by dragging, and returned to
// the fitted view with a double click. The zoom factor counts from the last fit, so the limits
// are relative to the fitted image rather than to the pixels.
//
// A drag with Shift held marks a region of the image (its pixels, corners included), drawn while
// it is set; Escape or a click without a drag clears it.
#include <QGraphicsView>
#include <QPointF>
#include <QRect>

class QGraphicsRectItem;

class SvGraphicsView : public QGraphicsView {
    Q_OBJECT
public:
    explicit SvGraphicsView(QWidget* parent = nullptr);

    // Zoom factor applied with the wheel since the last fit.
    double zoomSinceFit() const { return currentScale; }

    // The marked pixels within the image, null when none are.
    QRect region() const { return marked; }
    // Marks region (held to the image; a null one clears it) without reporting it.
    void showRegion(const QRect& region);

signals:
    // The user marked a region, or cleared it (a null rectangle).
    void regionChanged(QRect region);

protected:
    void wheelEvent(QWheelEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The pixels between two scene points.
    static QRect pixelsBetween(QPointF a, QPointF b);
    // Marks region, held to the image.
    void setMarked(const QRect& region, bool report);

    QGraphicsRectItem* outline = nullptr;
    QRect marked;
    QPointF dragFrom;
    bool marking = false;
    bool pressedWithoutDrag = false;
    QPoint pressedAt;

    double currentScale = 1.0;
    double minScale = 1.0;
    double maxScale = 50.0;
};
