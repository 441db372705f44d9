// The Chinese catalogue is complete and compiled as kept, reaches every window and dialog so that
// no English word is left on screen, and leaves the status tips English; the English catalogue
// shows the source texts.
#include "TestHome.h"
#include "SorvaneDriver/Simulated/SimulatedCameras.h"
#include "Utility/SvCutRawFile.h"
#include "Utility/SvExportVideoUI.h"
#include "app/CamerasList.h"
#include "app/ConfigStore.h"
#include "app/InitDialog.h"
#include "app/MainWidget.h"
#include "settings/SettingBaseWithComboBox.h"
#include "settings/SettingBaseWithLineEdit.h"
#include "settings/SettingBaseWithSwitchButton.h"
#include "settings/SettingItemBox.h"
#include "settings/SidebarApsSettingUI.h"
#include "settings/SidebarCameraSettingUI.h"
#include "settings/SidebarDvsSettingUI.h"
#include "settings/SvGeneralSetting.h"
#include "widgets/SVMessageBox.h"
#include "widgets/SvToolTip.h"
#include "widgets/WaitingWin.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTabBar>
#include <QTest>
#include <QTextDocumentFragment>
#include <QTranslator>
#include <QXmlStreamReader>

#include <functional>
#include <memory>

using namespace sorvane;

namespace {

// Words that read the same in Chinese: names, units, the colour schemes.
const QSet<QString> keptWords = {"SorvaneViewer", "Sorvane", "DVS", "APS", "ROI", "Mbps", "MB", "MEv", "kEv", "ms",
                                 "fps", "us", "px", "Hz", "EN", "Gray", "Dark", "RedBlue", "RedGreen", "Light"};

bool hasEnglishWord(QString text)
{
    static const QRegularExpression fileName(R"([\w*]+\.(raw|mp4|bias)\b)");
    static const QRegularExpression word(R"((?<![A-Za-z0-9_])[A-Za-z]{2,}(?![A-Za-z0-9_]))");
    if (Qt::mightBeRichText(text))
        text = QTextDocumentFragment::fromHtml(text).toPlainText();
    text.remove(fileName);
    for (const auto& match : word.globalMatch(text))
        if (!keptWords.contains(match.captured()))
            return true;
    return false;
}

// The names, descriptions and options of camera parameters are the camera's own texts, shown as
// it reports them.
bool showsCameraText(const QWidget* widget)
{
    if (widget->objectName() == "lb_set_item_name" || widget->objectName() == "lb_item_name")
        return true;
    for (const QWidget* up = widget->parentWidget(); up; up = up->parentWidget())
        if (qobject_cast<const SettingBaseWithLineEdit*>(up) || qobject_cast<const SettingBaseWithComboBox*>(up)
            || qobject_cast<const SettingBaseWithSwitchButton*>(up))
            return qobject_cast<const SvToolTip*>(widget) || qobject_cast<const QComboBox*>(widget);
    return false;
}

// Every text the user sees in root and its visible children, with the widget showing it.
QList<std::pair<QString, QString>> shownTexts(QWidget* root)
{
    QList<std::pair<QString, QString>> texts;
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* widget : widgets) {
        const QString name = widget->objectName().isEmpty() ? widget->metaObject()->className() : widget->objectName();
        if (showsCameraText(widget))
            continue;
        // Tooltips and menus show on demand.
        if (auto* tip = qobject_cast<SvToolTip*>(widget))
            texts.append({name, tip->text()});
        for (QAction* action : widget->actions())
            texts.append({name, action->text()});
        if (!widget->isVisible())
            continue;
        QStringList parts{widget->toolTip()};
        if (widget->isWindow())
            parts << widget->windowTitle();
        if (auto* label = qobject_cast<QLabel*>(widget))
            parts << label->text();
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            parts << button->text();
        if (auto* group = qobject_cast<QGroupBox*>(widget))
            parts << group->title();
        if (auto* edit = qobject_cast<QLineEdit*>(widget))
            parts << edit->placeholderText();
        if (auto* combo = qobject_cast<QComboBox*>(widget))
            for (int i = 0; i < combo->count(); ++i)
                parts << combo->itemText(i);
        if (auto* list = qobject_cast<QListWidget*>(widget))
            for (int i = 0; i < list->count(); ++i)
                parts << list->item(i)->text();
        if (auto* tabs = qobject_cast<QTabBar*>(widget))
            for (int i = 0; i < tabs->count(); ++i)
                parts << tabs->tabText(i);
        for (const QString& text : parts)
            texts.append({name, text});
    }
    return texts;
}

} // namespace

class TestTranslation : public QObject {
    Q_OBJECT
    // First, so that everything the suite makes sees the throwaway home.
    TestHome home;
private:
    std::shared_ptr<FusionCamera> camera;
    using Factory = std::function<QWidget*()>;
    QList<std::pair<const char*, Factory>> dialogs;

    std::shared_ptr<CameraTool> tool(ToolType type) const { return camera->getTool(type); }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        camera = SimulatedCameraProvider().openFusionCamera(SimulatedCameraProvider::serialOf("Tandem"));
        QVERIFY(camera);
        dialogs = {
            {"main window", [] { return new MainWidget; }},
            {"camera list", [] { return new CamerasList(SimulatedCameraProvider().listCameras()); }},
            {"cut", [] { return new SvCutRawFile; }},
            {"export", [] { return new SvExportVideoUI; }},
            {"general settings", [] { return new SvGeneralSetting; }},
            {"about box",
             [] {
                 return new SVMessageBox(MainWidget::tr("Is it open in the browser?"), MainWidget::tr("Tips"),
                                         MainWidget::tr("Open"), MainWidget::tr("Close"));
             }},
            {"language box",
             [] {
                 return new SVMessageBox(MainWidget::tr("The language change will take effect after restart."),
                                         MainWidget::tr("Tips"), MainWidget::tr("Restart"), MainWidget::tr("Later"));
             }},
            {"replace box",
             [] {
                 const QString path = QString::fromUtf8("/\xe5\xbd\x95\xe5\x83\x8f/cut.raw");
                 return new SVMessageBox(SvRangeFileDialog::tr("%1 exists already. Replace it?").arg(path),
                                         SvRangeFileDialog::tr("Tips"), SvRangeFileDialog::tr("Replace"),
                                         SvRangeFileDialog::tr("Cancel"));
             }},
            {"splash", [] { return new InitDialog; }},
            {"waiting",
             [] {
                 auto* waiting = new WaitingWin;
                 waiting->setCancelable(true);
                 waiting->setProgress(40);
                 return waiting;
             }},
            {"camera page", [] { return new SidebarCameraSettingUI; }},
            {"DVS page",
             [this] {
                 auto* page = new SidebarDvsSettingUI;
                 page->setBiasesToolUI(tool(ToolType::Biases));
                 page->setTriggerInToolUI(tool(ToolType::TriggerIn));
                 page->setAntiFlickerToolUI(tool(ToolType::AntiFlicker));
                 page->setEventRateControlToolUI(tool(ToolType::EventRateControl));
                 page->setEventTrailFilterToolUI(tool(ToolType::EventTrailFilter));
                 page->setROIToolUI(tool(ToolType::Roi));
                 return page;
             }},
            {"APS page",
             [this] {
                 auto* page = new SidebarApsSettingUI;
                 page->setApsToolUI(tool(ToolType::Aps));
                 return page;
             }},
        };
    }

    // Qt's own dialogs and standard buttons speak the window's language.
    void qtTextsFollowTheLanguage_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("cancel");
        QTest::newRow("zh") << "zh" << "取消";
        QTest::newRow("en") << "en" << "Cancel";
    }

    void qtTextsFollowTheLanguage()
    {
        QFETCH(QString, language);
        QFETCH(QString, cancel);
        loadLanguage(language);
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), cancel);
    }

    void catalogueIsComplete_data()
    {
        QTest::addColumn<QString>("language");
        QTest::newRow("zh") << "zh";
        QTest::newRow("en") << "en";
    }

    // Every kept message is finished and current, and the compiled catalogue the program loads
    // gives the kept translation.
    void catalogueIsComplete()
    {
        QFETCH(QString, language);
        QFile kept(SV_TRANSLATIONS_DIR "/app_" + language + ".ts");
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QTranslator compiled;
        const bool loaded = compiled.load(":/app_" + language + ".qm");
        QStringList problems;
        QXmlStreamReader xml(&kept);
        QString context, source, comment;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == u"name") {
                context = xml.readElementText();
            } else if (xml.name() == u"message") {
                source.clear();
                comment.clear();
            } else if (xml.name() == u"source") {
                source = xml.readElementText();
            } else if (xml.name() == u"comment") {
                comment = xml.readElementText();
            } else if (xml.name() == u"translation") {
                const QString type = xml.attributes().value("type").toString();
                const QString translation = xml.readElementText();
                const QString where = context + " \"" + source + "\"";
                if (!type.isEmpty())
                    problems << where + " is " + type;
                else if (translation.isEmpty())
                    problems << where + " is empty";
                else if (!loaded || compiled.translate(qPrintable(context), qPrintable(source),
                                                       comment.isEmpty() ? nullptr : qPrintable(comment)) != translation)
                    problems << where + " is not compiled as kept";
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
    }

    void noEnglishLeftOnScreen_data()
    {
        QTest::addColumn<int>("dialog");
        for (int i = 0; i < dialogs.size(); ++i)
            QTest::newRow(dialogs[i].first) << i;
    }

    void noEnglishLeftOnScreen()
    {
        QFETCH(int, dialog);
        ConfigStore* config = ConfigStore::instance();
        config->language = "zh";
        loadLanguage(config->language);
        std::unique_ptr<QWidget> shown(dialogs[dialog].second());
        shown->show();
        QVERIFY(QTest::qWaitForWindowExposed(shown.get()));
        for (auto* box : shown->findChildren<SettingItemBox*>())
            box->setFolded(false);
        QSet<QString> offending;
        int seen = 0;
        auto check = [&] {
            for (const auto& [widget, text] : shownTexts(shown.get())) {
                ++seen;
                if (hasEnglishWord(text))
                    offending.insert(widget + ": " + text);
            }
        };
        check();
        // Tabs and stacked pages show one page at a time.
        for (auto* pages : shown->findChildren<QStackedWidget*>())
            for (int i = 0; i < pages->count(); ++i) {
                pages->setCurrentIndex(i);
                check();
            }
        QVERIFY(seen > 3);
        QVERIFY2(offending.isEmpty(), qPrintable(offending.values().join('\n')));
    }

    void tipsStayEnglish_data()
    {
        QTest::addColumn<QString>("context");
        QTest::addColumn<QString>("tip");
        QTest::newRow("open first") << "MainWidget" << "Please open a raw file first.";
        QTest::newRow("export") << "SvEventProcessor" << "Export raw file success!";
        QTest::newRow("biases saved") << "SidebarDvsSettingUI" << "Biases saved.";
        QTest::newRow("biases loaded") << "SidebarDvsSettingUI" << "Biases loaded.";
        QTest::newRow("folder") << "SvGeneralSetting" << "The folder cannot be created or written: ";
    }

    void tipsStayEnglish()
    {
        QFETCH(QString, context);
        QFETCH(QString, tip);
        loadLanguage("zh");
        QCOMPARE(QCoreApplication::translate("SvFilePathReminderForm", "Error"), QString("错误"));
        QCOMPARE(QCoreApplication::translate(qPrintable(context), qPrintable(tip)), tip);
    }
};

QTEST_MAIN(TestTranslation)
#include "tst_translation.moc"
