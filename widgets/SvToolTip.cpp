#include "widgets/SvToolTip.h"

#include "widgets/OnScreen.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimerEvent>

namespace {
constexpr int showDelayMs = 2000;
constexpr int showTimeMs = 3000;
constexpr int hideDelayMs = 300;
} // namespace

SvToolTip::SvToolTip(const QString& text, int position, QWidget* parent)
    : QDialog(parent)
    , label(new QLabel(text, this))
    , position(position)
{
    setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    label->setAlignment(Qt::AlignCenter);
    label->setStyleSheet("QLabel{min-width: 100px; min-height: 20px; font-size: 10px; color: #646464;"
                         " background-color: #FFFFFF; border: 1px solid #A7A7A7; border-radius: 5px;"
                         " padding: 2px 6px;}");
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label);
    hide();
}

void SvToolTip::setTarget(QWidget* target)
{
    if (!target) {
        return;
    }
    if (targetWidget) {
        targetWidget->removeEventFilter(this);
    }
    targetWidget = target;
    targetWidget->installEventFilter(this);
    targetWidget->setMouseTracking(true);
}

void SvToolTip::setXOffset(int offset)
{
    if (offset != x_offset) {
        x_offset = offset;
        emit xOffsetChanged(offset);
    }
}

void SvToolTip::setYOffset(int offset)
{
    if (offset != y_offset) {
        y_offset = offset;
        emit yOffsetChanged(offset);
    }
}

QString SvToolTip::text() const
{
    return label->text();
}

void SvToolTip::setText(const QString& text)
{
    if (text != label->text()) {
        label->setText(text);
        adjustSize();
        emit textChanged(text);
    }
}

Qt::Alignment SvToolTip::alignment() const
{
    return label->alignment();
}

void SvToolTip::setAlignment(Qt::Alignment alignment)
{
    if (alignment != label->alignment()) {
        label->setAlignment(alignment);
        emit alignmentChanged(alignment);
    }
}

bool SvToolTip::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == targetWidget) {
        if (event->type() == QEvent::Enter) {
            adjustSize();
            QPoint topLeft = targetWidget->mapToGlobal(QPoint(0, 0));
            topLeft.ry() -= height();
            if (position == CentredAbove) {
                topLeft.rx() += (targetWidget->width() - width()) / 2;
            } else if (position == AboveLeft) {
                topLeft.rx() -= width();
            } else {
                return QDialog::eventFilter(watched, event);
            }
            move(keptOnScreen(topLeft + QPoint(x_offset, y_offset), size(), targetWidget));
            if (!showTimer.isActive()) {
                showTimer.start(showDelayMs, this);
            }
        } else if (event->type() == QEvent::Leave) {
            showTimer.stop();
            hideTimer.stop();
            hideTimer.start(hideDelayMs, this);
        }
    }
    return QDialog::eventFilter(watched, event);
}

void SvToolTip::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == showTimer.timerId()) {
        showTimer.stop();
        if (isHidden()) {
            show();
            if (!hideTimer.isActive()) {
                hideTimer.start(showTimeMs, this);
            }
        }
    } else if (event->timerId() == hideTimer.timerId()) {
        showTimer.stop();
        hideTimer.stop();
        if (isVisible()) {
            hide();
        }
    } else {
        QDialog::timerEvent(event);
    }
}
