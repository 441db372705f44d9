// The start-up splash and the camera selection dialog.
#include "app/CamerasList.h"
#include "app/InitDialog.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QToolButton>

class TestCamerasDialogs : public QObject {
    Q_OBJECT
private:
    static std::vector<sorvane::CameraDescription> threeCameras()
    {
        return {{"S0001", "Orion4"}, {"S0002", "Vesper"}, {"S0003", "Tandem"}};
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void splashShowsTheVersionAndClosesByItself()
    {
        InitDialog splash;
        splash.show();
        QVERIFY(QTest::qWaitForWindowExposed(&splash));
        auto* version = splash.findChild<QLabel*>("lb_version");
        QVERIFY(version);
        QCOMPARE(version->text(), QString("Version: 1.1.3"));
        QVERIFY(splash.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!splash.isVisible(), 5000);
    }

    void splashCloseButtonClosesAtOnce()
    {
        InitDialog splash;
        splash.show();
        QVERIFY(QTest::qWaitForWindowExposed(&splash));
        auto* close = splash.findChild<QToolButton*>("btn_close");
        QVERIFY(close);
        QTest::mouseClick(close, Qt::LeftButton);
        QVERIFY(!splash.isVisible());
    }

    void rowsFollowTheDescriptions()
    {
        CamerasList dialog(threeCameras());
        auto* list = dialog.findChild<QListWidget*>("listWidget_cameras");
        QVERIFY(list);
        QCOMPARE(list->count(), 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(list->item(i)->text(), QString::fromStdString(threeCameras()[size_t(i)].serial));
        int index = -1;
        QVERIFY(dialog.getSelectedIndex(index));
        QCOMPARE(index, 0); // the first camera is preselected
    }

    void doubleClickAcceptsThatCamera()
    {
        CamerasList dialog(threeCameras());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* list = dialog.findChild<QListWidget*>("listWidget_cameras");
        const QRect third = list->visualItemRect(list->item(2));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, third.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, third.center());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.isVisible());
        int index = -1;
        QVERIFY(dialog.getSelectedIndex(index));
        QCOMPARE(index, 2);
    }

    void buttonsAcceptAndReject_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("result");
        QTest::newRow("open") << "pb_open" << int(QDialog::Accepted);
        QTest::newRow("close") << "pb_close" << int(QDialog::Rejected);
        QTest::newRow("title close") << "pb_win_close" << int(QDialog::Rejected);
    }

    void buttonsAcceptAndReject()
    {
        QFETCH(QString, button);
        QFETCH(int, result);
        CamerasList dialog(threeCameras());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* b = dialog.findChild<QPushButton*>(button);
        QVERIFY(b);
        QTest::mouseClick(b, Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), result);
    }

    void emptyListAcceptsWithoutSelection()
    {
        CamerasList dialog({});
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        int index = 7;
        QVERIFY(!dialog.getSelectedIndex(index));
        QCOMPARE(index, 7);
        QTest::mouseClick(dialog.findChild<QPushButton*>("pb_open"), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.getSelectedIndex(index));
    }

    void opensCentredOverItsParent_data()
    {
        QTest::addColumn<QPoint>("parentAt");
        QTest::newRow("top left") << QPoint(0, 0);
        QTest::newRow("off centre") << QPoint(310, 170);
    }

    void opensCentredOverItsParent()
    {
        QFETCH(QPoint, parentAt);
        QWidget window;
        window.resize(1000, 700);
        window.move(parentAt);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        CamerasList dialog(threeCameras(), &window);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const QPoint origin = window.mapToGlobal(QPoint(0, 0));
        QCOMPARE(dialog.pos(), QPoint(origin.x() + (window.width() - dialog.width()) / 2,
                                      origin.y() + (window.height() - dialog.height()) / 2));
    }
};

QTEST_MAIN(TestCamerasDialogs)
#include "tst_camerasdialogs.moc"
