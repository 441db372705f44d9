#include "widgets/SvWindowAgent.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

#ifdef SV_HAVE_QWINDOWKIT
#include <QWKWidgets/widgetwindowagent.h>

namespace {
QWK::WindowAgentBase::SystemButton toWindowKit(SvWindowAgent::SystemButton which)
{
    switch (which) {
    case SvWindowAgent::WindowIcon:
        return QWK::WindowAgentBase::WindowIcon;
    case SvWindowAgent::Minimize:
        return QWK::WindowAgentBase::Minimize;
    case SvWindowAgent::Maximize:
        return QWK::WindowAgentBase::Maximize;
    case SvWindowAgent::Close:
        return QWK::WindowAgentBase::Close;
    }
    return QWK::WindowAgentBase::Unknown;
}
}
#endif

SvWindowAgent::SvWindowAgent(QObject* parent)
    : QObject(parent)
{
}

SvWindowAgent::~SvWindowAgent()
{
    if (qApp)
        qApp->removeEventFilter(this);
    if (resizeCursorShown && managedWindow)
        managedWindow->unsetCursor();
}

bool SvWindowAgent::usesWindowKit()
{
#ifdef SV_HAVE_QWINDOWKIT
    return true;
#else
    return false;
#endif
}

bool SvWindowAgent::setup(QWidget* window)
{
    if (!window || managedWindow)
        return false;
    managedWindow = window;
#ifdef SV_HAVE_QWINDOWKIT
    windowKit = new QWK::WidgetWindowAgent(this);
    if (!windowKit->setup(window))
        return false;
#else
    window->setWindowFlags(window->windowFlags() | Qt::FramelessWindowHint);
    // Presses and moves on any child of the window pass here before the child sees them, also
    // the moves of children without mouse tracking (which only application filters receive).
    qApp->installEventFilter(this);
#endif
    return true;
}

void SvWindowAgent::setTitleBar(QWidget* titleBar)
{
    titleBarWidget = titleBar;
#ifdef SV_HAVE_QWINDOWKIT
    if (windowKit)
        windowKit->setTitleBar(titleBar);
#endif
}

void SvWindowAgent::setSystemButton(SystemButton which, QAbstractButton* button)
{
    systemButtons.insert(which, button);
#ifdef SV_HAVE_QWINDOWKIT
    if (windowKit)
        windowKit->setSystemButton(toWindowKit(which), button);
#endif
}

QAbstractButton* SvWindowAgent::systemButton(SystemButton which) const
{
    return systemButtons.value(which);
}

void SvWindowAgent::connectSystemButtons()
{
    if (auto* button = systemButton(Minimize)) {
        connect(button, &QAbstractButton::clicked, this, [this] {
            if (managedWindow)
                managedWindow->showMinimized();
        });
    }
    if (auto* button = systemButton(Maximize))
        connect(button, &QAbstractButton::clicked, this, &SvWindowAgent::toggleMaximized);
    if (auto* button = systemButton(Close)) {
        connect(button, &QAbstractButton::clicked, this, [this] {
            if (managedWindow)
                managedWindow->close();
        });
    }
}

void SvWindowAgent::setHitTestVisible(QWidget* widget, bool visible)
{
    if (visible)
        hitTestVisible.insert(widget);
    else
        hitTestVisible.remove(widget);
#ifdef SV_HAVE_QWINDOWKIT
    if (windowKit)
        windowKit->setHitTestVisible(widget, visible);
#endif
}

bool SvWindowAgent::isHitTestVisible(const QWidget* widget) const
{
    return hitTestVisible.contains(widget);
}

void SvWindowAgent::toggleMaximized()
{
    if (!managedWindow)
        return;
    if (managedWindow->isMaximized())
        managedWindow->showNormal();
    else
        managedWindow->showMaximized();
}

bool SvWindowAgent::isResizable() const
{
    if (!managedWindow || managedWindow->isMaximized() || managedWindow->isFullScreen())
        return false;
    return managedWindow->minimumSize() != managedWindow->maximumSize();
}

Qt::Edges SvWindowAgent::resizeEdgesAt(const QPoint& windowPos) const
{
    Qt::Edges edges;
    if (!isResizable() || !managedWindow->rect().contains(windowPos))
        return edges;
    if (windowPos.x() < resizeBorder)
        edges |= Qt::LeftEdge;
    if (windowPos.x() >= managedWindow->width() - resizeBorder)
        edges |= Qt::RightEdge;
    if (windowPos.y() < resizeBorder)
        edges |= Qt::TopEdge;
    if (windowPos.y() >= managedWindow->height() - resizeBorder)
        edges |= Qt::BottomEdge;
    return edges;
}

bool SvWindowAgent::startsWindowDrag(QWidget* receiver) const
{
    if (!titleBarWidget || !(receiver == titleBarWidget || titleBarWidget->isAncestorOf(receiver)))
        return false;
    for (QWidget* w = receiver; w; w = w->parentWidget()) {
        if (isHitTestVisible(w) || qobject_cast<QAbstractButton*>(w))
            return false;
        if (w == titleBarWidget)
            break;
    }
    return true;
}

void SvWindowAgent::updateResizeCursor(Qt::Edges edges)
{
    Qt::CursorShape shape = Qt::ArrowCursor;
    if (edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge))
        shape = Qt::SizeFDiagCursor;
    else if (edges == (Qt::RightEdge | Qt::TopEdge) || edges == (Qt::LeftEdge | Qt::BottomEdge))
        shape = Qt::SizeBDiagCursor;
    else if (edges & (Qt::LeftEdge | Qt::RightEdge))
        shape = Qt::SizeHorCursor;
    else if (edges & (Qt::TopEdge | Qt::BottomEdge))
        shape = Qt::SizeVerCursor;

    if (edges) {
        managedWindow->setCursor(shape);
        resizeCursorShown = true;
    } else if (resizeCursorShown) {
        managedWindow->unsetCursor();
        resizeCursorShown = false;
    }
}

bool SvWindowAgent::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove
        && type != QEvent::MouseButtonRelease && type != QEvent::MouseButtonDblClick)
        return false;
    auto* receiver = qobject_cast<QWidget*>(watched);
    if (!managedWindow || !receiver || receiver->window() != managedWindow)
        return false;

    auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint global = mouse->globalPosition().toPoint();
    const QPoint inWindow = managedWindow->mapFromGlobal(global);
    // Presses ignored by a child come here again for its parent: decide by the widget under the
    // pointer, not by the receiver of the moment.
    QWidget* under = managedWindow->childAt(inWindow);
    if (!under)
        under = managedWindow;

    switch (type) {
    case QEvent::MouseButtonPress: {
        if (mouse->button() != Qt::LeftButton)
            return false;
        QWindow* handle = managedWindow->windowHandle();
        const Qt::Edges edges = resizeEdgesAt(inWindow);
        if (edges) {
            // Where the window system cannot resize, the press goes on to the widget below.
            return handle && handle->startSystemResize(edges);
        }
        if (!startsWindowDrag(under))
            return false;
        if (!(handle && handle->startSystemMove())) {
            manualDrag = true;
            dragStartGlobal = global;
            dragStartWindowPos = managedWindow->pos();
        }
        return true;
    }
    case QEvent::MouseMove:
        if (manualDrag) {
            if (!(mouse->buttons() & Qt::LeftButton)) {
                manualDrag = false;
                return false;
            }
            managedWindow->move(dragStartWindowPos + (global - dragStartGlobal));
            return true;
        }
        if (mouse->buttons() == Qt::NoButton)
            updateResizeCursor(resizeEdgesAt(inWindow));
        return false;
    case QEvent::MouseButtonRelease:
        if (manualDrag && mouse->button() == Qt::LeftButton) {
            manualDrag = false;
            return true;
        }
        return false;
    case QEvent::MouseButtonDblClick:
        if (mouse->button() == Qt::LeftButton && systemButton(Maximize) && startsWindowDrag(under)) {
            toggleMaximized();
            return true;
        }
        return false;
    default:
        return false;
    }
}
