#include "widgets/SvThreeHandleSlider.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {
constexpr int grooveThickness = 10;
constexpr qreal grooveRadius = 5;
constexpr int sideLength = 6;     // lower and upper handle, along the axis
constexpr int sideThickness = 27; // across it
constexpr qreal sideRadius = 3;
constexpr int centerSize = 20;
constexpr qreal centerRadius = 10;
constexpr int outlineWidth = 3;    // also the centre's margin in centre-only mode
constexpr int centerFootprint = 26; // centre handle plus both margins

const QColor grooveColor(208, 208, 208);
const QColor enabledColor(0x00, 0x4B, 0x6A);
const QColor enabledCenterFill(0xFF, 0xFF, 0xFF);
const QColor disabledColor(0xC7, 0xC7, 0xC7);
const QColor disabledOutline(0x70, 0x70, 0x70);
}

SvThreeHandleSlider::SvThreeHandleSlider(QWidget* parent, Qt::Orientation orientation, int handleMode)
    : QWidget(parent)
    , orientation(orientation)
    , handleMode(handleMode)
{
    rangeRadius = inRangeMode() ? 0 : grooveRadius;
    setMouseTracking(true);
    if (orientation == Qt::Horizontal) {
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        setMinimumHeight(30);
    } else {
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
        setMinimumWidth(30);
    }
    applyColors();
}

void SvThreeHandleSlider::setHandleMode(int mode)
{
    handleMode = mode;
    rangeRadius = inRangeMode() ? 0 : grooveRadius;
    upperValue = rangeMaximum;
    lowerValue = rangeMinimum;
    emit lowerValueChanged(lowerValue);
    emit upperValueChanged(upperValue);
    update();
}

uint64_t SvThreeHandleSlider::lowerBound() const
{
    return inRangeMode() ? lowerValue : rangeMinimum;
}

uint64_t SvThreeHandleSlider::upperBound() const
{
    return inRangeMode() ? upperValue : rangeMaximum;
}

QSize SvThreeHandleSlider::minimumSizeHint() const
{
    return {2 * sideLength, sideLength};
}

// ---- value slots ----

void SvThreeHandleSlider::setLowerValue(uint64_t aLowerValue)
{
    uint64_t v = aLowerValue;
    if (inRangeMode())
        v = std::min(v, centerValue);
    else if (v > rangeMaximum)
        v = rangeMaximum;
    if (v < rangeMinimum)
        v = rangeMinimum;
    lowerValue = v;
    update();
}

void SvThreeHandleSlider::setUpperValue(uint64_t aUpperValue)
{
    uint64_t v = aUpperValue;
    if (inRangeMode())
        v = std::max(v, centerValue);
    else if (v < rangeMinimum)
        v = rangeMinimum;
    if (v > rangeMaximum)
        v = rangeMaximum;
    upperValue = v;
    update();
}

void SvThreeHandleSlider::setCenterValue(uint64_t center_value)
{
    centerValue = limitToSpan(center_value);
    update();
}

void SvThreeHandleSlider::setMinimum(uint64_t aMinimum)
{
    interval = rangeMaximum - aMinimum;
    rangeMinimum = aMinimum;
    lowerValue = aMinimum;
    update();
    emit rangeChanged(rangeMinimum, rangeMaximum);
}

void SvThreeHandleSlider::setMaximum(uint64_t aMaximum)
{
    interval = aMaximum - rangeMinimum;
    rangeMaximum = aMaximum;
    upperValue = aMaximum;
    update();
    emit rangeChanged(rangeMinimum, rangeMaximum);
}

uint64_t SvThreeHandleSlider::limitToSpan(uint64_t value) const
{
    return std::max(std::min(value, upperValue), lowerValue);
}

// ---- geometry ----

int SvThreeHandleSlider::axisLength() const
{
    return orientation == Qt::Horizontal ? width() : height();
}

int SvThreeHandleSlider::crossLength() const
{
    return orientation == Qt::Horizontal ? height() : width();
}

int SvThreeHandleSlider::axisCoordinate(const QPoint& point) const
{
    return orientation == Qt::Horizontal ? point.x() : point.y();
}

// The vertical slider is the horizontal one transposed: the minimum at the top.
QRect SvThreeHandleSlider::toWidget(int along, int across, int alongSize, int acrossSize) const
{
    if (orientation == Qt::Horizontal)
        return {along, across, alongSize, acrossSize};
    return {across, along, acrossSize, alongSize};
}

QRectF SvThreeHandleSlider::toWidget(const QRectF& r) const
{
    if (orientation == Qt::Horizontal)
        return r;
    return {r.y(), r.x(), r.height(), r.width()};
}

float SvThreeHandleSlider::ratio(uint64_t value) const
{
    // Values outside the range, or bounds not yet set the right way round, stay on the groove
    // instead of throwing handles (and pixel coordinates) far outside the widget.
    if (rangeMaximum <= rangeMinimum || value <= rangeMinimum)
        return 0.0f;
    const double r = double(value - rangeMinimum) / double(interval);
    return static_cast<float>(std::min(r, 1.0));
}

int SvThreeHandleSlider::lowerX() const
{
    const int span = axisLength() - 2 * sideLength - (inRangeMode() ? centerSize : 0);
    return static_cast<int>(span * ratio(lowerValue));
}

int SvThreeHandleSlider::upperX() const
{
    const int w = axisLength();
    if (inRangeMode())
        return static_cast<int>((w - 2 * sideLength - centerSize) * ratio(upperValue) + centerSize + sideLength);
    return static_cast<int>((w - 2 * sideLength) * ratio(upperValue) + sideLength);
}

int SvThreeHandleSlider::centerX() const
{
    const int w = axisLength();
    if (inRangeMode())
        return static_cast<int>((w - 2 * sideLength - centerSize) * ratio(centerValue) + sideLength);
    return static_cast<int>((w - centerFootprint) * ratio(centerValue) + outlineWidth);
}

QRect SvThreeHandleSlider::lowerHandleRect() const
{
    return toWidget(lowerX(), (crossLength() - sideThickness) / 2, sideLength, sideThickness);
}

QRect SvThreeHandleSlider::upperHandleRect() const
{
    return toWidget(upperX(), (crossLength() - sideThickness) / 2, sideLength, sideThickness);
}

QRect SvThreeHandleSlider::centerHandleRect() const
{
    return toWidget(centerX(), (crossLength() - centerSize) / 2, centerSize, centerSize);
}

double SvThreeHandleSlider::valueFromOffset(double offset) const
{
    const int span = axisLength() - 2 * sideLength;
    if (span <= 0 || rangeMaximum <= rangeMinimum)
        return double(rangeMinimum);
    return double(rangeMinimum) + (offset / span) * double(interval);
}

double SvThreeHandleSlider::valueAt(int p) const
{
    if (handleMode & CenterHandle)
        p -= centerFootprint / 2;
    return valueFromOffset(p);
}

uint64_t SvThreeHandleSlider::toValue(double value)
{
    // Positions left of the groove give negative values; they mean the start, not a wrap-around.
    if (!(value > 0.0))
        return 0;
    if (value >= 18446744073709551616.0) // 2^64
        return UINT64_MAX;
    return static_cast<uint64_t>(value);
}

// ---- mouse ----

void SvThreeHandleSlider::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPoint at = event->position().toPoint();
    const int p = axisCoordinate(at);
    // The side handles are hit-tested in every mode, also where they are not drawn.
    if (centerHandleRect().contains(at)) {
        centerPressed = true;
        dragOffset = p - centerFootprint / 2 - centerX();
    } else if (lowerHandleRect().contains(at)) {
        lowerPressed = true;
        dragOffset = p - sideLength / 2 - lowerX();
    } else if (upperHandleRect().contains(at)) {
        upperPressed = true;
        dragOffset = p - sideLength / 2 - upperX();
    } else {
        centerValue = limitToSpan(toValue(valueAt(p)));
        update();
        emit centerValueTrackClick(centerValue);
    }
    event->accept();
}

void SvThreeHandleSlider::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton)) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    const int p = axisCoordinate(event->position().toPoint());
    const int cx = centerX();

    if (lowerPressed && (handleMode & LowerHandle)) {
        if (p < 0)
            return;
        uint64_t v = centerValue;
        if (p + sideLength / 2 - dragOffset <= cx)
            v = toValue(valueFromOffset(p - sideLength / 2 - dragOffset));
        setLowerValue(v);
        emit lowerValueChanged(lowerValue);
    } else if (upperPressed && inRangeMode()) {
        uint64_t v = centerValue;
        if (cx + centerFootprint <= p - dragOffset)
            v = toValue(valueFromOffset(p - sideLength / 2 - dragOffset - sideLength));
        setUpperValue(v);
        emit upperValueChanged(upperValue);
    } else if (centerPressed && (handleMode & CenterHandle)) {
        if (inRangeMode()) {
            if (p > upperX() || p < lowerX() + sideLength) {
                centerValue = limitToSpan(centerValue);
                update();
                return;
            }
        } else if (p < 0 || p > axisLength()) {
            return;
        }
        const uint64_t c = limitToSpan(toValue(valueAt(p - dragOffset)));
        centerValue = c;
        update();
        emit centerValueMove(c);
    }
}

void SvThreeHandleSlider::mouseReleaseEvent(QMouseEvent* event)
{
    lowerPressed = false;
    upperPressed = false;
    centerPressed = false;
    QWidget::mouseReleaseEvent(event);
}

// ---- look ----

void SvThreeHandleSlider::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange) {
        applyColors();
        update();
    }
    QWidget::changeEvent(event);
}

void SvThreeHandleSlider::applyColors()
{
    const bool enabled = isEnabled();
    rangeColor = enabled ? enabledColor : disabledColor;
    sideHandleColor = enabled ? enabledColor : disabledColor;
    centerFillColor = enabled ? enabledCenterFill : disabledColor;
    centerOutlineColor = enabled ? enabledColor : disabledOutline;
}

void SvThreeHandleSlider::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);

    const QRectF groove(0, (crossLength() - grooveThickness) / 2, axisLength(), grooveThickness);
    painter.setBrush(grooveColor);
    painter.drawRoundedRect(toWidget(groove), grooveRadius, grooveRadius);

    QRectF range = groove;
    if (inRangeMode()) {
        painter.setBrush(sideHandleColor);
        painter.drawRoundedRect(lowerHandleRect(), sideRadius, sideRadius);
        painter.drawRoundedRect(upperHandleRect(), sideRadius, sideRadius);
        range.setLeft(lowerX() + sideLength);
        range.setRight(upperX() - 0.5);
    }
    painter.setBrush(rangeColor);
    painter.drawRoundedRect(toWidget(range), rangeRadius, rangeRadius);

    if (handleMode & CenterHandle) {
        painter.setPen(QPen(centerOutlineColor, outlineWidth, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        painter.setBrush(centerFillColor);
        painter.drawRoundedRect(centerHandleRect(), centerRadius, centerRadius);
    }
}
