// The general settings dialog against the real configuration store: what it shows, how the
// seconds step, and what Save writes (and Cancel does not).
#include "TestHome.h"
#include "app/ConfigStore.h"
#include "settings/SvGeneralSetting.h"
#include "widgets/SVComboBoxBase.h"
#include "widgets/SvComboBox.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The dialog with the system folder chooser replaced by the test's answer.
class TestableGeneralSetting : public SvGeneralSetting {
public:
    QString answer;
    QString askedStart;

protected:
    QString chooseFolder(const QString& start) override
    {
        askedStart = start;
        return answer;
    }
};

} // namespace

class TestGeneralSetting : public QObject {
    Q_OBJECT
    // First, so that everything the suite makes sees the throwaway home.
    TestHome home;
private:
    QTemporaryDir dir;
    ConfigStore* config = nullptr;

    template <typename T>
    static T* part(QWidget& dialog, const char* name) { return dialog.findChild<T*>(name); }
    static QComboBox* chooser(QWidget& dialog, const char* name) { return part<SvComboBox>(dialog, name)->comboBox(); }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        config = ConfigStore::instance();
    }

    void init()
    {
        config->outputRawFilePath = dir.path();
        config->videoSavePath = dir.path();
        config->triggerInRecEnable = false;
        config->triggerInRecEdgeType = "Rising Edge";
        config->beforeTriggerInSaveTime = 3;
        config->afterTriggerInSaveTime = 0;
        config->colorType = "Gray";
        config->applyColorType();
    }

    // The list shows the translated edge, an unknown one as falling; the store keeps the word
    // the trigger handler compares.
    void edgeIsStoredUntranslated_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("chosen"); // -1: as shown
        QTest::newRow("unknown") << "en" << "" << "Falling Edge" << -1;
        QTest::newRow("translated") << "zh" << "Rising Edge" << "上升沿" << 1;
    }

    void edgeIsStoredUntranslated()
    {
        QFETCH(QString, language);
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        QFETCH(int, chosen);
        loadLanguage(language);
        config->triggerInRecEdgeType = stored;
        TestableGeneralSetting dialog;
        QComboBox* edge = chooser(dialog, "cb_trigger_in_edge");
        QCOMPARE(edge->currentText(), shown);
        if (chosen >= 0)
            edge->setCurrentIndex(chosen);
        part<QPushButton>(dialog, "pb_save")->click();
        loadLanguage("en");
        QCOMPARE(config->triggerInRecEdgeType, QString("Falling Edge"));
    }

    void secondsStep_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("result");
        QTest::newRow("minus on zero") << "0" << "pb_sub_trigger_in_before_time" << "0";
        QTest::newRow("minus") << "5" << "pb_sub_trigger_in_before_time" << "4";
        QTest::newRow("plus on letters") << "abc" << "pb_add_trigger_in_before_time" << "1";
        QTest::newRow("minus on letters") << "abc" << "pb_sub_trigger_in_before_time" << "abc";
        QTest::newRow("plus") << "9" << "pb_add_trigger_in_before_time" << "10";
        // The camera counts these seconds in 16 bits.
        QTest::newRow("plus at the top") << "65535" << "pb_add_trigger_in_before_time" << "65535";
        QTest::newRow("plus above the top") << "70000" << "pb_add_trigger_in_before_time" << "65535";
    }

    void secondsStep()
    {
        QFETCH(QString, text);
        QFETCH(QString, button);
        QFETCH(QString, result);
        TestableGeneralSetting dialog;
        auto* edit = part<QLineEdit>(dialog, "le_trigger_in_before_time");
        edit->setText(text);
        part<QPushButton>(dialog, qPrintable(button))->click();
        QCOMPARE(edit->text(), result);
    }

    void cancelledChooserKeepsTheText()
    {
        TestableGeneralSetting dialog;
        auto* edit = part<QLineEdit>(dialog, "le_default_file_path");
        edit->setText("typed");
        part<QPushButton>(dialog, "pb_select_dir")->click();
        QCOMPARE(dialog.askedStart, dir.path()); // the stored folder, not the typed one
        QCOMPARE(edit->text(), QString("typed"));
        dialog.answer = dir.filePath("chosen");
        part<QPushButton>(dialog, "pb_select_dir")->click();
        QCOMPARE(edit->text(), dialog.answer);
    }

    // Enter in any field saves; Cancel, the title bar's close and Escape write nothing.
    void closing_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("saves");
        QTest::newRow("Enter in the seconds") << "le_trigger_in_before_time" << "Enter" << true;
        QTest::newRow("Enter in a folder") << "le_default_file_path" << "Enter" << true;
        QTest::newRow("Cancel") << "le_trigger_in_before_time" << "pb_cancel" << false;
        QTest::newRow("close") << "le_trigger_in_before_time" << "pb_win_close" << false;
        QTest::newRow("Escape") << "le_default_file_path" << "Escape" << false;
    }
    void closing()
    {
        QFETCH(QString, field);
        QFETCH(QString, how);
        QFETCH(bool, saves);
        {
            TestableGeneralSetting dialog;
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            QSignalSpy saved(&dialog, &SvGeneralSetting::signalTriggerInSaveFileParamChanged);
            part<QLineEdit>(dialog, "le_trigger_in_before_time")->setText("42");
            chooser(dialog, "widget_combobox_color_theme")->setCurrentText("Dark");
            auto* edit = part<QLineEdit>(dialog, qPrintable(field));
            edit->setFocus();
            if (how == "Enter")
                QTest::keyClick(edit, Qt::Key_Return);
            else if (how == "Escape")
                QTest::keyClick(edit, Qt::Key_Escape);
            else
                part<QPushButton>(dialog, qPrintable(how))->click();
            QVERIFY(!dialog.isVisible());
            QCOMPARE(dialog.result(), int(saves ? QDialog::Accepted : QDialog::Rejected));
            QCOMPARE(saved.count(), int(saves));
        }
        QCOMPARE(config->beforeTriggerInSaveTime, saves ? 42u : 3u);
        TestableGeneralSetting again;
        QCOMPARE(part<QLineEdit>(again, "le_trigger_in_before_time")->text(), QString(saves ? "42" : "3"));
        QCOMPARE(chooser(again, "widget_combobox_color_theme")->currentText(), QString(saves ? "Dark" : "Gray"));
    }

    void saveWritesEveryField()
    {
        TestableGeneralSetting dialog;
        QSignalSpy saved(&dialog, &SvGeneralSetting::signalTriggerInSaveFileParamChanged);
        QSignalSpy tips(&dialog, &SvGeneralSetting::signalShowLeftBottomTips);
        part<QPushButton>(dialog, "sb_trigger_in_rec_enable")->click();
        part<QLineEdit>(dialog, "le_trigger_in_before_time")->setText("x");
        part<QLineEdit>(dialog, "le_trigger_in_after_time")->setText("7");
        // A missing folder is made, parents and all.
        const QString nested = dir.filePath("new/videos");
        part<QLineEdit>(dialog, "le_default_video_file_path")->setText(nested);
        chooser(dialog, "widget_combobox_color_theme")->setCurrentText("Dark");
        part<QPushButton>(dialog, "pb_save")->click();
        QCOMPARE(saved.count(), 1);
        QCOMPARE(tips.count(), 0);
        QVERIFY(config->triggerInRecEnable);
        QCOMPARE(config->beforeTriggerInSaveTime, 0u);
        QCOMPARE(config->afterTriggerInSaveTime, 7u);
        QCOMPARE(config->videoSavePath, nested);
        QVERIFY(QFileInfo(nested).isDir());
        QCOMPARE(config->colorType, QString("Dark"));
        QCOMPARE(config->eventColors().background, QColor(30, 37, 52));
    }

    void unusableFolderIsWarnedAtOnce()
    {
        QFile blocker(dir.filePath("a_file"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        TestableGeneralSetting dialog;
        QSignalSpy saved(&dialog, &SvGeneralSetting::signalTriggerInSaveFileParamChanged);
        QSignalSpy tips(&dialog, &SvGeneralSetting::signalShowLeftBottomTips);
        const QString impossible = dir.filePath("a_file/raw");
        part<QLineEdit>(dialog, "le_default_file_path")->setText(impossible);
        part<QPushButton>(dialog, "pb_save")->click();
        QCOMPARE(config->outputRawFilePath, impossible); // stored as typed
        QCOMPARE(saved.count(), 1);
        QCOMPARE(tips.count(), 1);
        QVERIFY(tips.first().at(0).toString().contains("a_file"));
        QCOMPARE(tips.first().at(1).value<SvMessageType>(), Warning);
    }
};

QTEST_MAIN(TestGeneralSetting)
#include "tst_generalsetting.moc"
