#include "app/ConfigStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

// Every case builds its own store over an INI file in a temporary folder, with a temporary home
// folder (and so Documents), so nothing touches the user's real settings or files.
class TestConfigStore : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir;
    QTemporaryDir home;
    QString iniPath() const { return dir.filePath("config.ini"); }
    static QString defaultFolder()
    {
        return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + "/SorvaneData";
    }
    void writeIni(const QList<QPair<QString, QVariant>>& values)
    {
        QFile::remove(iniPath());
        QSettings s(iniPath(), QSettings::IniFormat);
        for (const auto& [key, value] : values)
            s.setValue(key, value);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY(home.isValid());
        qputenv("HOME", QFile::encodeName(home.path()));
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).startsWith(home.path()));
    }
    void init()
    {
        QFile::remove(iniPath());
        QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    }

    // The default folder is made when missing, Documents with it on an account without one.
    void missingFileGivesDefaults_data()
    {
        QTest::addColumn<bool>("documentsExists");
        QTest::addColumn<bool>("dataFolderExists");
        QTest::newRow("data folder there") << true << true;
        QTest::newRow("data folder missing") << true << false;
        QTest::newRow("no Documents folder") << false << false;
    }

    void missingFileGivesDefaults()
    {
        QFETCH(bool, documentsExists);
        QFETCH(bool, dataFolderExists);
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        if (!documentsExists)
            QVERIFY(QDir(documents).removeRecursively());
        else if (dataFolderExists)
            QVERIFY(QDir().mkpath(defaultFolder()));
        else
            QVERIFY(QDir(defaultFolder()).removeRecursively());
        ConfigStore store(iniPath());
        QCOMPARE(store.outputRawFilePath, defaultFolder());
        QCOMPARE(store.inputRawFilePath, defaultFolder());
        QCOMPARE(store.videoSavePath, defaultFolder());
        QVERIFY(QDir(defaultFolder()).exists());
        QCOMPARE(store.language, QString("en"));
        QCOMPARE(store.triggerInRecEnable, false);
        QCOMPARE(store.triggerInRecEdgeType, QString("Rising Edge"));
        QCOMPARE(store.beforeTriggerInSaveTime, 0u);
        QCOMPARE(store.afterTriggerInSaveTime, 0u);
        QCOMPARE(store.colorType, QString("Gray"));
        QCOMPARE(store.positiveColor, QColor(191, 188, 180));
        QCOMPARE(store.negativeColor, QColor(64, 61, 51));
        QCOMPARE(store.backgroundColor, QColor(112, 112, 112));
    }

    void storedFolders_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::newRow("existing folder kept") << true;
        QTest::newRow("stale folder replaced") << false;
    }
    void storedFolders()
    {
        QFETCH(bool, exists);
        const QString stored = dir.filePath(exists ? "recordings" : "gone");
        if (exists)
            QVERIFY(QDir().mkpath(stored));
        writeIni({{"Setting/output_raw_file_path", stored},
                  {"Setting/input_raw_file_path", stored},
                  {"Setting/video_save_path", stored}});
        ConfigStore store(iniPath());
        const QString expected = exists ? stored : defaultFolder();
        QCOMPARE(store.outputRawFilePath, expected);
        QCOMPARE(store.inputRawFilePath, expected);
        QCOMPARE(store.videoSavePath, expected);
    }

    // A stored value the program cannot use loads as the default and is written back so.
    void unusableValuesWrittenBackAsDefaults_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QVariant>("loaded");
        QTest::newRow("language") << "Setting/language" << QVariant("fr") << QVariant("en");
        QTest::newRow("colour scheme") << "Setting/dvs_color_type" << QVariant("Sepia") << QVariant("Gray");
        QTest::newRow("colour scheme spelt otherwise") << "Setting/dvs_color_type" << QVariant("dark") << QVariant("Gray");
        QTest::newRow("seconds before an edge") << "Setting/dvs_before_tirgger_in_save_time" << QVariant(70000)
                                                << QVariant(65535);
        QTest::newRow("seconds after an edge") << "Setting/dvs_after_tirgger_in_save_time" << QVariant(65536)
                                               << QVariant(65535);
    }
    void unusableValuesWrittenBackAsDefaults()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(QVariant, loaded);
        writeIni({{key, stored}, {"Setting/dvs_trigger_in_rec_enable", true}});
        {
            ConfigStore store(iniPath());
            if (key == "Setting/dvs_color_type")
                QCOMPARE(store.backgroundColor, QColor(112, 112, 112));
        }
        QSettings s(iniPath(), QSettings::IniFormat);
        QCOMPARE(s.value(key).toString(), loaded.toString());
    }

    void triggerKeyWithoutEdgeKey()
    {
        writeIni({{"Setting/dvs_trigger_in_rec_enable", true},
                  {"Setting/dvs_after_tirgger_in_save_time", 7}});
        ConfigStore store(iniPath());
        QCOMPARE(store.triggerInRecEnable, true);
        QCOMPARE(store.triggerInRecEdgeType, QString());
        QCOMPARE(store.afterTriggerInSaveTime, 7u);
        QCOMPARE(store.beforeTriggerInSaveTime, 0u);
    }

    void exitRewritesAllKeys()
    {
        { ConfigStore store(iniPath()); }
        QSettings s(iniPath(), QSettings::IniFormat);
        const QStringList expected{"Setting/output_raw_file_path", "Setting/input_raw_file_path",
                                   "Setting/language", "Setting/video_save_path",
                                   "Setting/dvs_trigger_in_rec_enable", "Setting/dvs_trigger_in_rec_edge_type",
                                   "Setting/dvs_before_tirgger_in_save_time",
                                   "Setting/dvs_after_tirgger_in_save_time", "Setting/dvs_color_type"};
        for (const QString& key : expected)
            QVERIFY2(s.contains(key), qPrintable(key));
        QCOMPARE(s.allKeys().size(), expected.size());
    }

    // A render thread reads the colours while the settings are saved: it always gets the three
    // colours of one palette, never a mix.
    void colorsReadWhileSavedStayOnePalette()
    {
        ConfigStore store(iniPath());
        const QSet<QRgb> backgrounds{QColor(112, 112, 112).rgb(), QColor(30, 37, 52).rgb()};
        std::atomic<bool> done{false};
        std::atomic<int> torn{0};
        std::thread render([&] {
            while (!done.load()) {
                const EventColors colors = store.eventColors();
                // Gray and Dark: the background tells which positive colour belongs to it.
                const bool dark = colors.background == QColor(30, 37, 52);
                if (!backgrounds.contains(colors.background.rgb())
                    || colors.positive != (dark ? QColor(216, 223, 236) : QColor(191, 188, 180)))
                    torn.fetch_add(1);
            }
        });
        for (int i = 0; i < 200; ++i) {
            store.colorType = i % 2 ? "Dark" : "Gray";
            store.applyColorType();
        }
        done.store(true);
        render.join();
        QCOMPARE(torn.load(), 0);
    }

};

QTEST_GUILESS_MAIN(TestConfigStore)
#include "tst_configstore.moc"
