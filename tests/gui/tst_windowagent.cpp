#include "widgets/SvWindowAgent.h"

#include <QApplication>
#include <QDialog>
#include <QMouseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QWindow>

#include <memory>

namespace {
// A window as the application builds them: a title bar (caption and free space) and the three
// window buttons beside it, above the content.
struct FramelessWindow {
    std::unique_ptr<QWidget> window;
    QWidget* titleBar = nullptr;
    QLabel* caption = nullptr;
    QPushButton* inTitle = nullptr; // a button inside the title bar
    QPushButton* minButton = nullptr;
    QPushButton* maxButton = nullptr;
    QPushButton* closeButton = nullptr;
    SvWindowAgent* agent = nullptr;

    explicit FramelessWindow(bool dialog = false)
    {
        window.reset(dialog ? new QDialog : new QWidget);
        auto* outer = new QVBoxLayout(window.get());
        outer->setContentsMargins(0, 0, 0, 0);
        auto* row = new QHBoxLayout;
        titleBar = new QWidget(window.get());
        titleBar->setMinimumHeight(30);
        auto* titleLayout = new QHBoxLayout(titleBar);
        caption = new QLabel("caption", titleBar);
        inTitle = new QPushButton("menu", titleBar);
        titleLayout->addWidget(caption);
        titleLayout->addWidget(inTitle);
        titleLayout->addStretch();
        minButton = new QPushButton("_", window.get());
        maxButton = new QPushButton("[]", window.get());
        closeButton = new QPushButton("x", window.get());
        row->addWidget(titleBar, 1);
        row->addWidget(minButton);
        row->addWidget(maxButton);
        row->addWidget(closeButton);
        outer->addLayout(row);
        outer->addStretch();

        agent = new SvWindowAgent(window.get());
        agent->setup(window.get());
        agent->setTitleBar(titleBar);
        agent->setSystemButton(SvWindowAgent::Minimize, minButton);
        agent->setSystemButton(SvWindowAgent::Maximize, maxButton);
        agent->setSystemButton(SvWindowAgent::Close, closeButton);
        window->resize(600, 300);
        window->move(100, 100);
    }
    bool show()
    {
        window->show();
        return QTest::qWaitForWindowExposed(window.get());
    }
};
}

class TestWindowAgent : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void registeredButtonsActOnlyWhenConnected_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::newRow("connected") << true;
        QTest::newRow("window handles its own buttons") << false;
    }
    void registeredButtonsActOnlyWhenConnected()
    {
        QFETCH(bool, connected);
        FramelessWindow w;
        if (connected)
            w.agent->connectSystemButtons();
        QVERIFY(w.show());

        QTest::mouseClick(w.maxButton, Qt::LeftButton);
        QCOMPARE(w.window->isMaximized(), connected);
        QTest::mouseClick(w.maxButton, Qt::LeftButton);
        QVERIFY(!w.window->isMaximized());

        QTest::mouseClick(w.minButton, Qt::LeftButton);
        QCOMPARE(w.window->isMinimized(), connected);
        w.window->showNormal();

        QTest::mouseClick(w.closeButton, Qt::LeftButton);
        QCOMPARE(w.window->isVisible(), !connected);
    }

    // The edges resize the window, the hover showing the resize cursor; a maximised or fixed
    // window has no resize zones.
    void resizeZones_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QPoint>("pos");
        QTest::addColumn<int>("edges");
        QTest::addColumn<int>("cursor");
        const int arrow = int(Qt::ArrowCursor);
        QTest::newRow("top left") << "" << QPoint(0, 0) << int(Qt::LeftEdge | Qt::TopEdge) << int(Qt::SizeFDiagCursor);
        QTest::newRow("right") << "" << QPoint(598, 150) << int(Qt::RightEdge) << int(Qt::SizeHorCursor);
        QTest::newRow("bottom") << "" << QPoint(300, 299) << int(Qt::BottomEdge) << int(Qt::SizeVerCursor);
        QTest::newRow("bottom left") << "" << QPoint(2, 297) << int(Qt::LeftEdge | Qt::BottomEdge) << int(Qt::SizeBDiagCursor);
        QTest::newRow("just inside") << "" << QPoint(5, 150) << 0 << arrow;
        QTest::newRow("centre") << "" << QPoint(300, 150) << 0 << arrow;
        QTest::newRow("maximised, top left") << "maximised" << QPoint(0, 0) << 0 << arrow;
        QTest::newRow("fixed size, right") << "fixed" << QPoint(598, 150) << 0 << arrow;
    }
    void resizeZones()
    {
        QFETCH(QString, state);
        QFETCH(QPoint, pos);
        QFETCH(int, edges);
        QFETCH(int, cursor);
        FramelessWindow w;
        if (state == "fixed")
            w.window->setFixedSize(600, 300);
        QVERIFY(w.show());
        if (state == "maximised")
            w.window->showMaximized();
        QCOMPARE(int(w.agent->resizeEdgesAt(pos)), edges);
        QCOMPARE(int(w.agent->resizeEdgesAt(QPoint(-1, 150))), 0);

        // Hovering shows the resize cursor, also over children that have no mouse tracking.
        QWidget* under = w.window->childAt(pos);
        QWidget* target = under ? under : w.window.get();
        // Sent directly: QTest moves an unpressed mouse through the platform cursor, which stays
        // put when it already is at that point.
        const QPoint local = target->mapFrom(w.window.get(), pos);
        QMouseEvent hover(QEvent::MouseMove, local, target->mapToGlobal(local), Qt::NoButton,
            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(target, &hover);
        QCOMPARE(int(w.window->cursor().shape()), cursor);

        // Back inside, the normal cursor returns.
        const QPoint inside(300, 150);
        QMouseEvent back(QEvent::MouseMove, inside, w.window->mapToGlobal(inside), Qt::NoButton,
            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(w.window.get(), &back);
        QCOMPARE(w.window->cursor().shape(), Qt::ArrowCursor);
    }

    void titleBarMovesTheWindow_data()
    {
        QTest::addColumn<QString>("grab");
        QTest::addColumn<bool>("moves");
        QTest::newRow("free space of the title bar") << "bar" << true;
        QTest::newRow("caption label") << "caption" << true;
        QTest::newRow("button in the title bar") << "button" << false;
        QTest::newRow("hit-test visible caption") << "visible caption" << false;
        QTest::newRow("window content") << "content" << false;
    }
    void titleBarMovesTheWindow()
    {
        QFETCH(QString, grab);
        QFETCH(bool, moves);
        FramelessWindow w;
        QVERIFY(w.show());
        if (w.window->windowHandle()->startSystemMove())
            QSKIP("the window system moves windows itself here; nothing to observe");

        QWidget* target = w.titleBar;
        QPoint at(w.titleBar->width() - 10, 10);
        if (grab == "caption" || grab == "visible caption") {
            target = w.caption;
            at = w.caption->rect().center();
            if (grab == "visible caption")
                w.agent->setHitTestVisible(w.caption);
        } else if (grab == "button") {
            target = w.inTitle;
            at = w.inTitle->rect().center();
        } else if (grab == "content") {
            target = w.window.get();
            at = QPoint(200, 200);
        }
        const QPoint start = w.window->pos();
        QTest::mousePress(target, Qt::LeftButton, {}, at);
        QTest::mouseMove(target, at + QPoint(50, 30));
        QTest::mouseRelease(target, Qt::LeftButton, {}, at + QPoint(50, 30));
        QCOMPARE(w.window->pos(), moves ? start + QPoint(50, 30) : start);
    }

    void doubleClickOnTheTitleBarMaximises_data()
    {
        QTest::addColumn<bool>("withMaximizeButton");
        QTest::newRow("with a maximise button") << true;
        QTest::newRow("without") << false;
    }
    void doubleClickOnTheTitleBarMaximises()
    {
        QFETCH(bool, withMaximizeButton);
        FramelessWindow w;
        if (!withMaximizeButton)
            w.agent->setSystemButton(SvWindowAgent::Maximize, nullptr);
        QVERIFY(w.show());
        QTest::mouseDClick(w.caption, Qt::LeftButton, {}, w.caption->rect().center());
        QCOMPARE(w.window->isMaximized(), withMaximizeButton);
    }
};

QTEST_MAIN(TestWindowAgent)
#include "tst_windowagent.moc"
