#include "widgets/SvEventRateStrip.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

const QColor curveColor(0x00, 0x4B, 0x6A);

// Sum of values over the fractional index range [from, to), a partly covered value counting in
// proportion.
double sumOver(const QList<quint64>& values, double from, double to)
{
    const double size = double(values.size());
    from = std::clamp(from, 0.0, size);
    to = std::clamp(to, 0.0, size);
    double sum = 0;
    for (qsizetype i = qsizetype(from); i < values.size() && double(i) < to; ++i)
        sum += double(values[i]) * (std::min(to, double(i + 1)) - std::max(from, double(i)));
    return sum;
}

} // namespace

SvEventRateStrip::SvEventRateStrip(QWidget* parent)
    : QWidget(parent)
{
    setFixedHeight(18);
}

void SvEventRateStrip::setProfile(const QList<quint64>& profile, uint64_t first, uint64_t last)
{
    live = false;
    counts = profile;
    profileFirst = first;
    profileLast = last;
    update();
}

void SvEventRateStrip::setRange(uint64_t first, uint64_t last)
{
    shownFirst = first;
    shownLast = last;
    update();
}

void SvEventRateStrip::addLiveSample(quint64 events)
{
    if (!live) {
        counts.clear();
        live = true;
    }
    counts.append(events);
    if (counts.size() > liveSamples)
        counts.remove(0, counts.size() - liveSamples);
    update();
}

void SvEventRateStrip::clear()
{
    counts.clear();
    live = false;
    update();
}

QList<double> SvEventRateStrip::columns() const
{
    QList<double> shown;
    if (counts.isEmpty())
        return shown;
    const int width = trackWidth();
    shown.reserve(width);
    if (live) {
        // Right-aligned: the newest sample at the right edge, ten seconds across.
        const double missing = double(liveSamples - counts.size());
        const double perColumn = double(liveSamples) / width;
        for (int c = 0; c < width; ++c)
            shown << sumOver(counts, c * perColumn - missing, (c + 1) * perColumn - missing);
        return shown;
    }
    if (shownLast <= shownFirst || profileLast < profileFirst)
        return shown;
    const double binsPerUs = double(counts.size()) / double(profileLast - profileFirst + 1);
    const double usPerColumn = double(shownLast - shownFirst + 1) / width;
    const double offset = (double(shownFirst) - double(profileFirst)) * binsPerUs;
    for (int c = 0; c < width; ++c)
        shown << sumOver(counts, offset + c * usPerColumn * binsPerUs, offset + (c + 1) * usPerColumn * binsPerUs);
    return shown;
}

void SvEventRateStrip::paintEvent(QPaintEvent*)
{
    const QList<double> shown = columns();
    const double highest = shown.isEmpty() ? 0 : *std::max_element(shown.begin(), shown.end());
    if (highest <= 0)
        return;
    const double bottom = height() - 0.5;
    const double usable = height() - 2.0;
    QPainterPath curve(QPointF(trackMargin, bottom));
    for (qsizetype c = 0; c < shown.size(); ++c) {
        const double top = bottom - usable * shown[c] / highest;
        curve.lineTo(trackMargin + c, top);
        curve.lineTo(trackMargin + c + 1, top);
    }
    curve.lineTo(trackMargin + shown.size(), bottom);
    curve.closeSubpath();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = curveColor;
    fill.setAlpha(isEnabled() ? 110 : 50);
    painter.fillPath(curve, fill);
}

void SvEventRateStrip::mousePressEvent(QMouseEvent* event)
{
    if (live || counts.isEmpty() || shownLast <= shownFirst || event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const double fraction = std::clamp((event->position().x() - trackMargin) / trackWidth(), 0.0, 1.0);
    emit timeClicked(shownFirst + uint64_t(std::llround(fraction * double(shownLast - shownFirst))));
}
