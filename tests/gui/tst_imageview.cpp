#include "processing/ShowImageForm.h"
#include "processing/SvGraphicsView.h"
#include "processing/WorkerThread.h"

#include <QApplication>
#include <QGraphicsPixmapItem>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QWheelEvent>

#include <atomic>
#include <cmath>
#include <memory>

namespace {
const QColor startGrey(0x70, 0x70, 0x70);

QGraphicsPixmapItem* imageItem(SvGraphicsView* view)
{
    const auto items = view->scene()->items();
    return items.size() == 1 ? qgraphicsitem_cast<QGraphicsPixmapItem*>(items.first()) : nullptr;
}

// One wheel notch (120 = 15 degrees); positive turns away from the user.
void turnWheel(SvGraphicsView* view, int delta)
{
    const QPointF at = QPointF(view->viewport()->rect().center());
    QWheelEvent event(at, view->viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta),
        Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view->viewport(), &event);
}

double zoomOf(SvGraphicsView* view)
{
    return view->transform().m11();
}

bool near(double a, double b)
{
    return std::abs(a - b) <= 1e-9 * std::max(std::abs(a), std::abs(b));
}
}

class TestImageView : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<ShowImageForm> form;
    SvGraphicsView* view = nullptr;
    double fittedZoom = 0.0;

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        form = std::make_unique<ShowImageForm>();
        form->resize(840, 429);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        view = form->view();
        QVERIFY(view && view->scene());
        fittedZoom = zoomOf(view);
    }
    void cleanup() { form.reset(); }

    void startImageIsGreyAndFitted()
    {
        QCOMPARE(form->currentPixmap().size(), QSize(1280, 720));
        QCOMPARE(form->currentPixmap().toImage().pixelColor(639, 359), startGrey);

        // Fitted: the whole image is inside the viewport and fills it along one side.
        QGraphicsPixmapItem* item = imageItem(view);
        QVERIFY(item);
        const QRect shown = view->mapFromScene(item->sceneBoundingRect()).boundingRect();
        const QRect port = view->viewport()->rect();
        QVERIFY2(port.adjusted(-1, -1, 1, 1).contains(shown), "image exceeds the viewport");
        QVERIFY(shown.width() >= port.width() - 6 || shown.height() >= port.height() - 6);
        QVERIFY(fittedZoom < 1.0);

        const QImage onScreen = view->viewport()->grab().toImage();
        QCOMPARE(onScreen.pixelColor(port.center()), startGrey);
    }

    void zoomInStopsAfterFortyTwoSteps()
    {
        for (int step = 1; step <= 42; ++step) {
            turnWheel(view, 120);
            QVERIFY2(near(zoomOf(view), fittedZoom * std::pow(1.1, step)),
                qPrintable(QString("step %1 not taken").arg(step)));
        }
        QVERIFY(view->zoomSinceFit() > 50.0 && view->zoomSinceFit() < 55.0);
        const QTransform atLimit = view->transform();
        turnWheel(view, 120);
        QCOMPARE(view->transform(), atLimit);
    }

    // Zoomed out, the view stops at the fit; from the fit, out does nothing.
    void zoomOutReturnsToFitAndNoFurther()
    {
        const QTransform fitted = view->transform();
        turnWheel(view, -120);
        QCOMPARE(view->transform(), fitted);
        for (int i = 0; i < 7; ++i)
            turnWheel(view, 120);
        for (int i = 0; i < 7; ++i)
            turnWheel(view, -120);
        QVERIFY(near(zoomOf(view), fittedZoom));
        const QTransform back = view->transform();
        turnWheel(view, -120);
        QCOMPARE(view->transform(), back);
    }

    void doubleClickRefitsAndRestartsTheCount()
    {
        for (int i = 0; i < 5; ++i)
            turnWheel(view, 120);
        QVERIFY(!near(zoomOf(view), fittedZoom));
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, view->viewport()->rect().center());
        QVERIFY(near(zoomOf(view), fittedZoom));
        QCOMPARE(view->zoomSinceFit(), 1.0);
        turnWheel(view, 120);
        QVERIFY(near(zoomOf(view), fittedZoom * 1.1));
        // The count restarted: one step out is the fit again, the next is refused.
        turnWheel(view, -120);
        turnWheel(view, -120);
        QVERIFY(near(zoomOf(view), fittedZoom));
    }

    void resizeRefitsAndRestartsTheCount_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("narrower") << QSize(500, 429);
        QTest::newRow("lower") << QSize(840, 250);
        QTest::newRow("larger") << QSize(1300, 900);
    }
    void resizeRefitsAndRestartsTheCount()
    {
        QFETCH(QSize, size);
        for (int i = 0; i < 5; ++i)
            turnWheel(view, 120);
        form->resize(size);
        QCOMPARE(view->zoomSinceFit(), 1.0);
        const double afterResize = zoomOf(view);
        const QSizeF port = view->viewport()->size();
        const double expected = std::min((port.width() - 4) / 1280.0, (port.height() - 4) / 720.0);
        QVERIFY2(std::abs(afterResize - expected) < 0.01,
            qPrintable(QString("zoom %1, fit %2").arg(afterResize).arg(expected)));
    }

    void newImageKeepsZoomAndPan_data()
    {
        QTest::addColumn<bool>("asPixmap");
        QTest::newRow("slotShowImage") << false;
        QTest::newRow("showPixMap") << true;
    }
    void newImageKeepsZoomAndPan()
    {
        QFETCH(bool, asPixmap);
        for (int i = 0; i < 4; ++i)
            turnWheel(view, 120);
        view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->maximum() / 3);
        const QTransform zoomed = view->transform();
        const int hscroll = view->horizontalScrollBar()->value();
        QVERIFY(hscroll > 0);

        QImage red(1280, 720, QImage::Format_RGB32);
        red.fill(Qt::red);
        if (asPixmap)
            form->showPixMap(QPixmap::fromImage(red));
        else
            form->slotShowImage(red);

        QCOMPARE(view->transform(), zoomed);
        QCOMPARE(view->horizontalScrollBar()->value(), hscroll);
        QCOMPARE(form->currentPixmap().toImage().pixelColor(10, 10), QColor(Qt::red));
        QCOMPARE(imageItem(view)->pixmap().toImage().pixelColor(10, 10), QColor(Qt::red));
    }

    // A drag with Shift marks the pixels it spans, held to the image; without Shift it pans.
    void regionMarkedByShiftDrag_data()
    {
        QTest::addColumn<QPointF>("from"); // image pixels
        QTest::addColumn<QPointF>("to");
        QTest::addColumn<bool>("shift");
        QTest::addColumn<QRect>("region");
        QTest::newRow("drag") << QPointF(100.5, 50.5) << QPointF(300.5, 200.5) << true << QRect(QPoint(100, 50), QPoint(300, 200));
        QTest::newRow("drag up and left") << QPointF(300.5, 200.5) << QPointF(100.5, 50.5) << true
                                          << QRect(QPoint(100, 50), QPoint(300, 200));
        QTest::newRow("past the edge") << QPointF(1200.5, 600.5) << QPointF(1500.0, 900.0) << true
                                       << QRect(QPoint(1200, 600), QPoint(1279, 719));
        QTest::newRow("a click") << QPointF(100.5, 50.5) << QPointF(100.5, 50.5) << true << QRect();
        QTest::newRow("without Shift") << QPointF(100.5, 50.5) << QPointF(300.5, 200.5) << false << QRect();
    }

    void regionMarkedByShiftDrag()
    {
        QFETCH(QPointF, from);
        QFETCH(QPointF, to);
        QFETCH(bool, shift);
        QFETCH(QRect, region);
        QSignalSpy changes(view, &SvGraphicsView::regionChanged);
        const Qt::KeyboardModifiers modifiers = shift ? Qt::ShiftModifier : Qt::NoModifier;
        QTest::mousePress(view->viewport(), Qt::LeftButton, modifiers, view->mapFromScene(from));
        QTest::mouseMove(view->viewport(), view->mapFromScene(to));
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, modifiers, view->mapFromScene(to));
        // The fitted view shows about 1.5 image pixels per screen pixel.
        const QRect marked = view->region();
        QVERIFY2(marked.isNull() == region.isNull()
                     && (marked.topLeft() - region.topLeft()).manhattanLength() <= 2
                     && (marked.bottomRight() - region.bottomRight()).manhattanLength() <= 2,
                 qPrintable(QString("%1,%2 %3,%4").arg(marked.left()).arg(marked.top()).arg(marked.right()).arg(marked.bottom())));
        QCOMPARE(changes.count(), shift ? 1 : 0);
        if (region.isNull())
            return;
        QCOMPARE(changes.first().at(0).toRect(), marked);
        region = marked;
        // Drawn around the marked pixels while set.
        QGraphicsRectItem* outline = nullptr;
        for (QGraphicsItem* item : view->scene()->items())
            if (auto* rect = qgraphicsitem_cast<QGraphicsRectItem*>(item))
                outline = rect;
        QVERIFY(outline && outline->isVisible());
        QCOMPARE(outline->rect(), QRectF(region.topLeft(), region.size()));
        // Escape clears it, and so does a click without a drag.
        QTest::keyClick(view, Qt::Key_Escape);
        QVERIFY(view->region().isNull() && !outline->isVisible());
        QCOMPARE(changes.count(), 2);
        view->showRegion(region);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, view->mapFromScene(to));
        QVERIFY(view->region().isNull());
        QCOMPARE(changes.count(), 3);
        QVERIFY(changes.last().at(0).toRect().isNull());
    }

    void workerThreadReportsTheEnd_data()
    {
        QTest::addColumn<bool>("withTask");
        QTest::newRow("empty task") << false;
        QTest::newRow("task") << true;
    }
    void workerThreadReportsTheEnd()
    {
        QFETCH(bool, withTask);
        std::atomic<bool> ran{false};
        std::atomic<bool> ranOnGuiThread{false};
        QThread* gui = QThread::currentThread();
        std::function<void()> task;
        if (withTask) {
            task = [&] {
                ranOnGuiThread = QThread::currentThread() == gui;
                ran = true;
            };
        }
        WorkerThread worker(std::move(task));
        std::atomic<bool> endedAfterTask{false};
        connect(&worker, &WorkerThread::taskCompleted, &worker,
            [&] { endedAfterTask = ran.load() == withTask; }, Qt::DirectConnection);
        QSignalSpy completed(&worker, &WorkerThread::taskCompleted);
        worker.start(QThread::InheritPriority);
        // The signal may come before a wait could start: wait on the count.
        QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, 5000);
        QVERIFY(worker.wait(5000));
        QVERIFY(endedAfterTask);
        QCOMPARE(ran.load(), withTask);
        QVERIFY(!ranOnGuiThread);
    }
};

QTEST_MAIN(TestImageView)
#include "tst_imageview.moc"
