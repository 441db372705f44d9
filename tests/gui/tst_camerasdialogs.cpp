// The start-up splash and the camera selection dialog.
#include "app/CamerasList.h"
#include "app/InitDialog.h"

#include <QApplication>
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

    void splashCloses_data()
    {
        QTest::addColumn<bool>("byButton");
        QTest::newRow("by itself") << false;
        QTest::newRow("by its close button, at once") << true;
    }

    void splashCloses()
    {
        QFETCH(bool, byButton);
        InitDialog splash;
        splash.show();
        QVERIFY(QTest::qWaitForWindowExposed(&splash));
        if (byButton) {
            QTest::mouseClick(splash.findChild<QToolButton*>("btn_close"), Qt::LeftButton);
            QVERIFY(!splash.isVisible());
        }
        QTRY_VERIFY_WITH_TIMEOUT(!splash.isVisible(), 5000);
    }

    // The rows are the cameras' serials, the first preselected; a button or a double-click on a
    // row ends the dialog.
    void choosingACamera_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("selected");
        QTest::newRow("open") << "pb_open" << int(QDialog::Accepted) << 0;
        QTest::newRow("close") << "pb_close" << int(QDialog::Rejected) << 0;
        QTest::newRow("title close") << "pb_win_close" << int(QDialog::Rejected) << 0;
        QTest::newRow("double-click on the third") << "double-click" << int(QDialog::Accepted) << 2;
    }

    void choosingACamera()
    {
        QFETCH(QString, how);
        QFETCH(int, result);
        QFETCH(int, selected);
        CamerasList dialog(threeCameras());
        auto* list = dialog.findChild<QListWidget*>("listWidget_cameras");
        QCOMPARE(list->count(), 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(list->item(i)->text(), QString::fromStdString(threeCameras()[size_t(i)].serial));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        if (how == "double-click") {
            const QRect third = list->visualItemRect(list->item(2));
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, third.center());
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, third.center());
        } else {
            QTest::mouseClick(dialog.findChild<QPushButton*>(how), Qt::LeftButton);
        }
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), result);
        int index = -1;
        QVERIFY(dialog.getSelectedIndex(index));
        QCOMPARE(index, selected);
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
};

QTEST_MAIN(TestCamerasDialogs)
#include "tst_camerasdialogs.moc"
