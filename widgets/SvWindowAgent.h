#pragma once
// Frameless windows with a title bar of our own. The agent removes the system frame, lets the
// title-bar widget move the window and the window's edges resize it (both through the window
// system, so snapping and multi-screen moves behave as with a native frame), and knows the
// window's system buttons.
//
// When QWindowKit is available at build time the agent hands all of this to
// QWK::WidgetWindowAgent; the interface stays the same.
//
// One agent per window, created with the window as parent, set up in the window's constructor
// before the window is shown.
#include <QHash>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QSet>

class QAbstractButton;
class QWidget;

#ifdef SV_HAVE_QWINDOWKIT
namespace QWK {
class WidgetWindowAgent;
}
#endif

class SvWindowAgent : public QObject {
    Q_OBJECT
public:
    enum SystemButton {
        WindowIcon,
        Minimize,
        Maximize,
        Close,
    };
    Q_ENUM(SystemButton)

    explicit SvWindowAgent(QObject* parent = nullptr);
    ~SvWindowAgent() override;

    // Makes `window` (a top-level widget) frameless and takes over moving and resizing it.
    // False for a null window or a second call.
    bool setup(QWidget* window);
    QWidget* window() const { return managedWindow; }

    // The widget that moves the window when dragged; a double click on it maximises or restores
    // the window if a maximise button is registered. Children that take clicks themselves
    // (buttons, or widgets passed to setHitTestVisible) do not drag.
    void setTitleBar(QWidget* titleBar);
    QWidget* titleBar() const { return titleBarWidget; }

    // Registers one of the window's system buttons. Registering does not connect its click: a
    // window with slots of its own (on_pb_win_max_clicked, ...) keeps handling them; others call
    // connectSystemButtons.
    void setSystemButton(SystemButton which, QAbstractButton* button);
    QAbstractButton* systemButton(SystemButton which) const;

    // Connects the registered minimise, maximise and close buttons to the window.
    void connectSystemButtons();

    void setHitTestVisible(QWidget* widget, bool visible = true);
    bool isHitTestVisible(const QWidget* widget) const;

    // Edges whose resize zone holds `windowPos` (window coordinates); none while the window is
    // maximised, full screen or of fixed size.
    Qt::Edges resizeEdgesAt(const QPoint& windowPos) const;

    // True when QWindowKit does the work.
    static bool usesWindowKit();

    // Width of the resize zone along each edge, in pixels.
    static constexpr int resizeBorder = 5;

public slots:
    void toggleMaximized();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool isResizable() const;
    bool startsWindowDrag(QWidget* receiver) const;
    void updateResizeCursor(Qt::Edges edges);

    QPointer<QWidget> managedWindow;
    QPointer<QWidget> titleBarWidget;
    QHash<SystemButton, QPointer<QAbstractButton>> systemButtons;
    QSet<const QWidget*> hitTestVisible;

    // Moving by hand where the window system cannot move the window itself.
    bool manualDrag = false;
    QPoint dragStartGlobal;
    QPoint dragStartWindowPos;
    bool resizeCursorShown = false;

#ifdef SV_HAVE_QWINDOWKIT
    QWK::WidgetWindowAgent* windowKit = nullptr;
#endif
};
