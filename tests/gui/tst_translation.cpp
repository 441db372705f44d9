// The Chinese catalogue reaches the main window's form, its menus and the dialogs; status tips
// stay English; the English catalogue shows the source texts.
#include "app/ConfigStore.h"
#include "app/MainWidget.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>

class TestTranslation : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void windowTexts_data();
    void windowTexts();
    void tipsStayEnglish();
};

void TestTranslation::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestTranslation::windowTexts_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("fileButton");
    QTest::addColumn<QString>("openRecording");
    QTest::addColumn<QString>("timeCaption");
    QTest::addColumn<QString>("cutTitle");
    QTest::newRow("zh") << "zh" << "文件" << "打开录制文件" << " | 时间：" << "剪切录制文件";
    QTest::newRow("en") << "en" << "File" << "Open Recording" << " | Time: " << "Cut Recording";
}

void TestTranslation::windowTexts()
{
    QFETCH(QString, language);
    QFETCH(QString, fileButton);
    QFETCH(QString, openRecording);
    QFETCH(QString, timeCaption);
    QFETCH(QString, cutTitle);
    loadLanguage(language);
    MainWidget window;
    auto* file = window.findChild<QPushButton*>("pb_menu_file");
    QCOMPARE(file->text(), fileButton);
    QVERIFY(file->menu());
    QCOMPARE(file->menu()->actions().first()->text(), openRecording);
    QCOMPARE(window.findChild<QLabel*>("label_show_play_text2")->text(), timeCaption);
    QCOMPARE(QCoreApplication::translate("SvCutRawFile", "Cut Recording"), cutTitle);
}

void TestTranslation::tipsStayEnglish()
{
    loadLanguage("zh");
    QCOMPARE(QCoreApplication::translate("MainWidget", "Please open a raw file first."),
             QString("Please open a raw file first."));
    QCOMPARE(QCoreApplication::translate("SvEventProcessor", "Export raw file success!"),
             QString("Export raw file success!"));
    QCOMPARE(QCoreApplication::translate("SvFilePathReminderForm", "Error"), QString("错误"));
}

QTEST_MAIN(TestTranslation)
#include "tst_translation.moc"
