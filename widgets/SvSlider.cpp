#include "widgets/SvSlider.h"

#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>

void SvSlider::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QSlider::mousePressEvent(event);
        return;
    }
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    const bool horizontal = orientation() == Qt::Horizontal;
    const int len = horizontal ? handle.width() : handle.height();
    const int span = (horizontal ? width() : height()) - len;
    const QPoint pos = event->position().toPoint();
    const int p = horizontal ? pos.x() : pos.y();

    int value = minimum();
    if (span > 0)
        value = static_cast<int>(minimum() + double(maximum() - minimum()) * (p - len * 0.5) / span);
    setValue(value);
    emit trackClicked(value);

    // Away from the handle the click only jumps; on it, QSlider starts the drag as usual.
    if (!handle.contains(pos)) {
        event->accept();
        return;
    }
    QSlider::mousePressEvent(event);
}
