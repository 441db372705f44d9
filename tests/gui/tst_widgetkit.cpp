// The widget kit: tips toast, waiting window, message box, tooltip, combo and line edits.
#include "widgets/SVComboBoxBase.h"
#include "widgets/SVMessageBox.h"
#include "widgets/SvComboBox.h"
#include "widgets/SvFilePathReminderForm.h"
#include "widgets/SvLineEditBase.h"
#include "widgets/SvToolTip.h"
#include "widgets/WaitingWin.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <memory>

class TestWidgetKit : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
    }


    void toastLook_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("path");
        QTest::newRow("success with path") << int(Success) << "/tmp";
        QTest::newRow("warning without path") << int(Warning) << "";
        QTest::newRow("unknown kind with path") << 7 << "/tmp";
    }

    // The open-folder button only when there is a folder to open.
    void toastLook()
    {
        QFETCH(int, type);
        QFETCH(QString, path);
        std::unique_ptr<SvFilePathReminderForm> toast(new SvFilePathReminderForm("tip", SvMessageType(type), path));
        toast->show();
        QCOMPARE(toast->findChild<QPushButton*>("pb_open_dir")->isVisible(), !path.isEmpty());
    }

    void toastGoesAway_data()
    {
        QTest::addColumn<bool>("closed");
        QTest::newRow("after its lifetime") << false;
        QTest::newRow("by its close button") << true;
    }

    void toastGoesAway()
    {
        QFETCH(bool, closed);
        QPointer<SvFilePathReminderForm> toast = new SvFilePathReminderForm("tip", Error, "/tmp");
        toast->show();
        QCoreApplication::processEvents();
        QVERIFY(!toast.isNull());
        if (closed) {
            // At once, not at the end of its lifetime.
            QTest::mouseClick(toast->findChild<QPushButton*>("pb_close"), Qt::LeftButton);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QVERIFY(toast.isNull());
        }
        QTRY_VERIFY_WITH_TIMEOUT(toast.isNull(), SvFilePathReminderForm::lifetimeMs + 2000);
    }

    void waitingProgressText_data()
    {
        QTest::addColumn<QList<int>>("reports");
        QTest::addColumn<QString>("text");
        QTest::newRow("nothing reported") << QList<int>{} << "";
        QTest::newRow("start") << QList<int>{0} << "0%";
        QTest::newRow("climbing") << QList<int>{3, 40, 57} << "57%";
        QTest::newRow("past the end is clamped") << QList<int>{99, 150} << "100%";
        QTest::newRow("cleared") << QList<int>{20, -1} << "";
    }

    void waitingProgressText()
    {
        QFETCH(QList<int>, reports);
        QFETCH(QString, text);
        QWidget parent;
        WaitingWin win(&parent);
        for (int percent : reports) {
            win.setProgress(percent);
        }
        QCOMPARE(win.progressText(), text);
        QCOMPARE(win.findChild<QLabel*>("label_progress")->text(), text);
    }

    // The work goes on through Escape and a close; only its end hides the window. Cancel is offered
    // only for work that can stop, and asks once.
    void waitingStaysUntilTheWorkEnds()
    {
        QWidget parent;
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        WaitingWin win(&parent);
        QSignalSpy cancels(&win, &WaitingWin::cancelRequested);
        auto* cancel = win.findChild<QPushButton*>("pb_cancel");
        QVERIFY(cancel);
        win.show();
        QVERIFY(cancel->isHidden());
        QTest::keyClick(&win, Qt::Key_Escape);
        win.close();
        QVERIFY(win.isVisible());

        win.setCancelable(true);
        QVERIFY(cancel->isVisible());
        QTest::mouseClick(cancel, Qt::LeftButton);
        QTest::mouseClick(cancel, Qt::LeftButton);
        QCOMPARE(cancels.count(), 1);
        QVERIFY(win.isVisible());
        win.finish();
        QVERIFY(!win.isVisible());
        // Shown again for the next work, Cancel is offered again.
        win.show();
        QTest::mouseClick(cancel, Qt::LeftButton);
        QCOMPARE(cancels.count(), 2);
        win.finish();
    }

    void messageBoxResult_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("result");
        QTest::newRow("confirm") << "pb_open" << int(QDialog::Accepted);
        QTest::newRow("cancel") << "pb_close" << int(QDialog::Rejected);
        QTest::newRow("title-bar close") << "pb_win_close" << int(QDialog::Rejected);
    }

    void messageBoxResult()
    {
        QFETCH(QString, button);
        QFETCH(int, result);
        SVMessageBox box("Is it open in the browser?", "Tips", "Open", "Close");
        QTimer::singleShot(0, &box, [&] { QTest::mouseClick(box.findChild<QPushButton*>(button), Qt::LeftButton); });
        QCOMPARE(box.exec(), result);
    }

    void comboWheelKeepsSelection()
    {
        QWidget page;
        auto* combo = new SVComboBoxBase(&page);
        combo->addItems({"Gray", "RedBlue", "Dark"});
        combo->setCurrentIndex(1);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        for (int delta : {120, -120, -120}) {
            QWheelEvent wheel(QPointF(5, 5), combo->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, delta),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(combo, &wheel);
            QVERIFY(!wheel.isAccepted());
        }
        QCOMPARE(combo->currentIndex(), 1);
    }

    void comboEditSignals()
    {
        SvComboBox box;
        box.comboBox()->addItems({"10", "20"});
        QSignalSpy changed(&box, &SvComboBox::signalLineEditTextChanged);
        QSignalSpy finished(&box, &SvComboBox::signalLineEditEditingFinished);
        QLineEdit* edit = box.comboBox()->lineEdit();
        QVERIFY(edit);

        box.setEditEnabled(true);
        QVERIFY(!edit->isReadOnly());
        edit->setText("123");
        QCOMPARE(changed.count(), 1);
        QCOMPARE(finished.count(), 0); // typing is not finished yet
        QCOMPARE(changed.last().at(0).toString(), QString("123"));

        box.setEditEnabled(false);
        QVERIFY(edit->isReadOnly());
        changed.clear();
        edit->setText("456");
        QCOMPARE(changed.count(), 0);

        // A pick from the list counts as a finished edit.
        finished.clear();
        box.comboBox()->setCurrentIndex(1);
        QVERIFY(finished.count() >= 1);
    }

    void lineEditFocusReports()
    {
        SvLineEditBase edit;
        QSignalSpy spy(&edit, &SvLineEditBase::signalMouseHoverd);
        QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
        QCoreApplication::sendEvent(&edit, &in);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.last().at(0).toBool(), true);
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QCoreApplication::sendEvent(&edit, &out);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.last().at(0).toBool(), false);
    }

    void tooltipShowsAfterDelayUnlessLeft_data()
    {
        QTest::addColumn<bool>("leaves");
        QTest::newRow("pointer stays") << false;
        QTest::newRow("pointer leaves before the delay") << true;
    }

    void tooltipShowsAfterDelayUnlessLeft()
    {
        QFETCH(bool, leaves);
        QWidget page;
        auto* target = new QPushButton("play", &page);
        auto* tip = new SvToolTip("Play/Stop", SvToolTip::CentredAbove, &page);
        tip->setTarget(target);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(target, &enter);
        QVERIFY(!tip->isVisible());
        if (leaves) {
            QEvent leave(QEvent::Leave);
            QCoreApplication::sendEvent(target, &leave);
            QVERIFY(!tip->isShowPending());
            QTest::qWait(2300);
            QVERIFY(!tip->isVisible());
            return;
        }
        QVERIFY(tip->isShowPending());
        QTRY_VERIFY_WITH_TIMEOUT(tip->isVisible(), 4000);
        // Shown for at most three seconds even while the pointer stays.
        QTRY_VERIFY_WITH_TIMEOUT(!tip->isVisible(), 5000);
    }

    void tooltipPlacement_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<bool>("moves");
        QTest::addColumn<QPoint>("pageAt");
        QTest::newRow("centred above") << 0 << true << QPoint(200, 300);
        QTest::newRow("above, left") << 2 << true << QPoint(200, 300);
        QTest::newRow("other positions stay") << 1 << false << QPoint(200, 300);
        // Near an edge the tip moves onto the screen rather than past it.
        QTest::newRow("above, left at the left edge") << 2 << true << QPoint(-150, 300);
        QTest::newRow("centred above at the top edge") << 0 << true << QPoint(200, -100);
    }

    void tooltipPlacement()
    {
        QFETCH(int, position);
        QFETCH(bool, moves);
        QFETCH(QPoint, pageAt);
        QWidget page;
        page.setGeometry(QRect(pageAt, QSize(400, 200)));
        auto* target = new QPushButton("x", &page);
        target->setGeometry(150, 100, 32, 32);
        auto* tip = new SvToolTip("Reset the playback progress to the beginning", position, &page);
        tip->setTarget(target);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        tip->move(1, 1);
        const QPoint before = tip->pos();
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(target, &enter);
        QCOMPARE(tip->isShowPending(), moves);
        if (!moves) {
            QCOMPARE(tip->pos(), before);
            return;
        }
        const QRect screen = page.screen()->availableGeometry();
        QVERIFY2(screen.contains(tip->geometry()), qPrintable(QString("%1,%2").arg(tip->x()).arg(tip->y())));
        const QPoint targetTopLeft = target->mapToGlobal(QPoint(0, 0));
        if (pageAt.x() < 0 || pageAt.y() < 0)
            return;
        QCOMPARE(tip->y(), targetTopLeft.y() - tip->height());
        if (position == 0) {
            QCOMPARE(tip->x() + tip->width() / 2, targetTopLeft.x() + target->width() / 2);
        } else {
            QCOMPARE(tip->x() + tip->width(), targetTopLeft.x());
        }
    }
};

QTEST_MAIN(TestWidgetKit)
#include "tst_widgetkit.moc"
