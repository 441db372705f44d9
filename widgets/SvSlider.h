#pragma once
// A slider whose value jumps to the point where the groove is clicked; a press on the handle
// itself still drags it.
#include <QSlider>

class SvSlider : public QSlider {
    Q_OBJECT
public:
    using QSlider::QSlider;

signals:
    // The value computed from the click, before the slider limits it to its range.
    void trackClicked(int value);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};
