#pragma once
// The image view: zoomed with the wheel around the pointer, panned by dragging, and returned to
// the fitted view with a double click. The zoom factor counts from the last fit, so the limits
// are relative to the fitted image rather than to the pixels.
#include <QGraphicsView>

class SvGraphicsView : public QGraphicsView {
    Q_OBJECT
public:
    explicit SvGraphicsView(QWidget* parent = nullptr);

    // Zoom factor applied with the wheel since the last fit.
    double zoomSinceFit() const { return currentScale; }

protected:
    void wheelEvent(QWheelEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    double currentScale = 1.0;
    double minScale = 1.0;
    double maxScale = 50.0;
};
