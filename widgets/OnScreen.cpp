#include "widgets/OnScreen.h"

#include <QScreen>
#include <QWidget>

#include <algorithm>

QPoint keptOnScreen(QPoint topLeft, QSize size, const QWidget* shownFor)
{
    const QScreen* screen = shownFor ? shownFor->screen() : nullptr;
    if (!screen)
        return topLeft;
    const QRect area = screen->availableGeometry();
    // A popup larger than the screen keeps its top-left corner on it.
    const int x = std::clamp(topLeft.x(), area.left(), std::max(area.left(), area.right() + 1 - size.width()));
    const int y = std::clamp(topLeft.y(), area.top(), std::max(area.top(), area.bottom() + 1 - size.height()));
    return {x, y};
}
