// The settings pages built from camera tools: which rows each group gets, in which order, that
// building writes nothing, and that the ROI fields show the camera's refusal.
#include "SorvaneHal/ParameterTool.h"
#include "settings/SettingBaseWithComboBox.h"
#include "settings/SettingBaseWithLineEdit.h"
#include "settings/SettingBaseWithSwitchButton.h"
#include "settings/SettingItemBox.h"
#include "settings/SidebarApsSettingUI.h"
#include "settings/SidebarDvsSettingUI.h"
#include "widgets/SVComboBoxBase.h"
#include "widgets/SvComboBox.h"

#include <QFile>
#include <QLabel>
#include <QMap>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace sorvane;

namespace {

// A tool whose parameters the test chooses; it counts the writes that reach it.
class FakeTool : public ParameterTool {
public:
    using ParameterTool::addBool;
    using ParameterTool::addEnum;
    using ParameterTool::addFloat;
    using ParameterTool::addInt;

    int writes = 0;
    std::function<bool(const ParameterValues&)> rule;

    bool setIntParameter(const std::string& name, int value) override { return count(ParameterTool::setIntParameter(name, value)); }
    bool setBoolParameter(const std::string& name, bool value) override { return count(ParameterTool::setBoolParameter(name, value)); }
    bool setFloatParameter(const std::string& name, float value) override { return count(ParameterTool::setFloatParameter(name, value)); }
    bool setEnumParameter(const std::string& name, const std::string& value) override { return count(ParameterTool::setEnumParameter(name, value)); }

protected:
    bool acceptValues(const ParameterValues& values) const override { return !rule || rule(values); }

private:
    bool count(bool accepted)
    {
        ++writes;
        return accepted;
    }
};

// One of each kind, named so that the numbers come first in name order.
std::shared_ptr<FakeTool> mixedTool()
{
    auto tool = std::make_shared<FakeTool>();
    tool->addInt("a_count", "", 0, 10, 3, "Hz");
    tool->addFloat("b_ratio", "", 0.5f, 2.5f, 1.7f, "%");
    tool->addBool("enable", "", false);
    tool->addEnum("mode", "", {"One", "Two"});
    return tool;
}

// The list comes first in name order, the switch last.
std::shared_ptr<FakeTool> listFirstTool()
{
    auto tool = std::make_shared<FakeTool>();
    tool->addEnum("a_mode", "", {"One", "Two"});
    tool->addInt("b_count", "", 0, 10, 3, "Hz");
    tool->addBool("c_enable", "", false);
    return tool;
}

QString labelOf(QWidget* row)
{
    for (const char* name : {"lb_set_item_name", "lb_item_name"})
        if (auto* label = row->findChild<QLabel*>(name))
            return label->text();
    return QString();
}

QStringList rowLabels(SettingItemBox* box)
{
    QStringList labels;
    for (QWidget* row : box->rows())
        if (!labelOf(row).isEmpty())
            labels.append(labelOf(row));
    return labels;
}

SettingBaseWithLineEdit* intRow(SettingItemBox* box, const QString& label)
{
    for (QWidget* row : box->rows())
        if (labelOf(row) == label)
            return qobject_cast<SettingBaseWithLineEdit*>(row);
    return nullptr;
}

} // namespace

class TestSettingPages : public QObject {
    Q_OBJECT
private slots:
    void groupsTakeTheirTypes_data()
    {
        QTest::addColumn<int>("group");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("labels");
        QTest::addColumn<bool>("listFirst");
        QTest::newRow("biases: numbers only") << 0 << "Biases" << QStringList{"A Count"} << false;
        QTest::newRow("trigger in: switches only") << 1 << "Trigger In" << QStringList{"Enable"} << false;
        QTest::newRow("anti flicker: switch, list, numbers")
            << 2 << "Anti Flicker" << QStringList{"Enable", "Mode", "A Count", "B Ratio"} << false;
        QTest::newRow("anti flicker: the list before any other row")
            << 2 << "Anti Flicker" << QStringList{"C Enable", "A Mode", "B Count"} << true;
        QTest::newRow("rate control") << 3 << "Event Rate Control" << QStringList{"A Count", "B Ratio", "Enable", "Mode"}
                                      << false;
        QTest::newRow("trail filter") << 4 << "Event Trail Filter" << QStringList{"A Count", "B Ratio", "Enable", "Mode"}
                                      << false;
        QTest::newRow("roi") << 5 << "ROI" << QStringList{"A Count", "Enable"} << false;
        QTest::newRow("aps page") << 6 << "" << QStringList{"A Count", "B Ratio", "Enable", "Mode"} << false;
    }

    void groupsTakeTheirTypes()
    {
        QFETCH(int, group);
        QFETCH(QString, title);
        QFETCH(QStringList, labels);
        QFETCH(bool, listFirst);
        SidebarDvsSettingUI page;
        SidebarApsSettingUI apsPage;
        auto tool = listFirst ? listFirstTool() : mixedTool();
        auto build = [&page, &apsPage, group](SidebarDvsSettingUI::ToolPtr with) {
            switch (group) {
            case 6: apsPage.setApsToolUI(with); break;
            case 0: page.setBiasesToolUI(with); break;
            case 1: page.setTriggerInToolUI(with); break;
            case 2: page.setAntiFlickerToolUI(with); break;
            case 3: page.setEventRateControlToolUI(with); break;
            case 4: page.setEventTrailFilterToolUI(with); break;
            default: page.setROIToolUI(with); break;
            }
        };
        const auto groups = [&] { return group == 6 ? apsPage.groups() : page.groups(); };
        build(tool);
        build(tool);
        QCOMPARE(groups().size(), 1);
        SettingItemBox* box = groups().first();
        if (group < 6) {
            QCOMPARE(box->title(), title);
            QVERIFY(box->isFolded());
        }
        QCOMPARE(rowLabels(box), labels);
        QCOMPARE(tool->writes, 0);
        if (group == 6)
            apsPage.resetApsToolUI();
        else
            build(std::make_shared<FakeTool>());
        QVERIFY(groups().isEmpty());
    }

    void rowsWriteTheirValues()
    {
        SidebarDvsSettingUI page;
        auto tool = mixedTool();
        page.setAntiFlickerToolUI(tool);
        SettingItemBox* box = page.groups().first();
        SettingBaseWithLineEdit* ratio = intRow(box, "B Ratio");
        QCOMPARE(ratio->value(), 1.7); // decimals are kept, not cut to whole numbers
        ratio->findChild<QLineEdit*>("le_sv_line_edit")->setText("2.25");
        QCOMPARE(ParameterTool::floatValue(tool->values(), "b_ratio"), 2.25f);
        box->rows().first()->findChild<QPushButton*>("switchButton")->click();
        QCOMPARE(ParameterTool::boolValue(tool->values(), "enable"), true);
        qobject_cast<SettingBaseWithComboBox*>(box->rows().at(1))->comboBox()->comboBox()->setCurrentIndex(1);
        QCOMPARE(ParameterTool::enumValue(tool->values(), "mode"), std::string("Two"));
        QCOMPARE(tool->writes, 3);
    }

    // A value the camera refuses does not look set: the row shows what the camera keeps, a
    // number row turns red and stays so when it loses the focus, and a warning says why.
    void refusedValueShowsWhatTheCameraKeeps_data()
    {
        QTest::addColumn<QString>("label");
        QTest::newRow("whole number") << "A Count";
        QTest::newRow("decimal") << "B Ratio";
        QTest::newRow("switch") << "Enable";
        QTest::newRow("list") << "Mode";
    }

    void refusedValueShowsWhatTheCameraKeeps()
    {
        QFETCH(QString, label);
        SidebarApsSettingUI page;
        QSignalSpy tips(&page, &SidebarSettingPage::signalShowLeftBottomTips);
        auto tool = mixedTool();
        tool->rule = [](const ParameterValues& v) {
            return ParameterTool::intValue(v, "a_count") <= 5 && ParameterTool::floatValue(v, "b_ratio") <= 2.0f
                && !ParameterTool::boolValue(v, "enable") && ParameterTool::enumValue(v, "mode") != "Two";
        };
        page.setApsToolUI(tool);
        SettingItemBox* box = page.groups().first();
        QWidget* row = nullptr;
        for (QWidget* each : box->rows())
            if (labelOf(each) == label)
                row = each;
        QVERIFY(row);
        QString shown;
        if (auto* number = qobject_cast<SettingBaseWithLineEdit*>(row)) {
            auto* edit = number->findChild<QLineEdit*>("le_sv_line_edit");
            edit->setText("7");
            shown = edit->text();
            QCOMPARE(number->borderColor(), QString("#FF6058"));
            QFocusEvent out(QEvent::FocusOut);
            QCoreApplication::sendEvent(edit, &out);
            QCOMPARE(number->borderColor(), QString("#FF6058"));
        } else if (auto* onOff = qobject_cast<SettingBaseWithSwitchButton*>(row)) {
            onOff->findChild<QPushButton*>("switchButton")->click();
            shown = onOff->isChecked() ? "on" : "off";
        } else {
            auto* list = qobject_cast<SettingBaseWithComboBox*>(row)->comboBox()->comboBox();
            list->setCurrentIndex(1);
            shown = list->currentText();
        }
        const QMap<QString, QString> kept{{"A Count", "3"}, {"B Ratio", "1.70"}, {"Enable", "off"}, {"Mode", "One"}};
        QCOMPARE(shown, kept[label]);
        QCOMPARE(tips.count(), 1);
        QCOMPARE(tips.first().at(1).value<SvMessageType>(), Warning);
        QVERIFY2(tips.first().at(0).toString().contains("refused " + label), qPrintable(tips.first().at(0).toString()));
    }

    void groupsKeepTheirBuildOrder()
    {
        SidebarDvsSettingUI page;
        page.setROIToolUI(mixedTool());
        page.setBiasesToolUI(mixedTool());
        page.setROIToolUI(mixedTool());
        QStringList titles;
        for (SettingItemBox* box : page.groups())
            titles.append(box->title());
        QCOMPARE(titles, (QStringList{"Biases", "ROI"}));
        page.resetToolUIs();
        QVERIFY(page.groups().isEmpty());
    }

    // A camera that checks the corners' order on each write: all ROI fields turn red while it
    // refuses, and grey again once a write is accepted.
    void roiFieldsShowTheRefusal()
    {
        SidebarDvsSettingUI page;
        auto tool = std::make_shared<FakeTool>();
        tool->addInt("roi_x0", "", 0, 100, 10, "px");
        tool->addInt("roi_x1", "", 0, 100, 50, "px");
        tool->rule = [](const ParameterValues& v) {
            return ParameterTool::intValue(v, "roi_x0") <= ParameterTool::intValue(v, "roi_x1");
        };
        page.setROIToolUI(tool);
        SettingItemBox* box = page.groups().first();
        SettingBaseWithLineEdit* x0 = intRow(box, "Roi X0");
        SettingBaseWithLineEdit* x1 = intRow(box, "Roi X1");
        QCOMPARE(x0->value(), 10); // read from the camera
        QCOMPARE(x1->value(), 50);
        QCOMPARE(tool->writes, 0);
        x0->findChild<QLineEdit*>("le_sv_line_edit")->setText("60");
        QCOMPARE(x0->borderColor(), QString("#FF6058"));
        QCOMPARE(x1->borderColor(), QString("#FF6058"));
        QCOMPARE(ParameterTool::intValue(tool->values(), "roi_x0"), 10);
        x1->findChild<QLineEdit*>("le_sv_line_edit")->setText("70");
        QCOMPARE(x0->borderColor(), QString("#ACACAC"));
        QCOMPARE(x1->borderColor(), QString("#ACACAC"));
        QCOMPARE(ParameterTool::intValue(tool->values(), "roi_x1"), 70);
    }

    void restoreDefaultsWritesEveryDefault()
    {
        SidebarDvsSettingUI page;
        auto tool = mixedTool();
        page.setAntiFlickerToolUI(tool);
        SettingItemBox* box = page.groups().first();
        intRow(box, "A Count")->findChild<QPushButton*>("pb_sub_item_value")->click();
        box->rows().first()->findChild<QPushButton*>("switchButton")->click();
        qobject_cast<SettingBaseWithComboBox*>(box->rows().at(1))->comboBox()->comboBox()->setCurrentIndex(1);
        QCOMPARE(ParameterTool::intValue(tool->values(), "a_count"), 2);
        const int writes = tool->writes;
        box->findChild<QPushButton*>("pb_restore_defaults")->click();
        QCOMPARE(tool->writes, writes + 4); // one per row, none echoed back by a row
        QCOMPARE(ParameterTool::intValue(tool->values(), "a_count"), 3);
        QCOMPARE(ParameterTool::boolValue(tool->values(), "enable"), false);
        QCOMPARE(ParameterTool::enumValue(tool->values(), "mode"), std::string("One"));
        QCOMPARE(intRow(box, "A Count")->value(), 3);
        QVERIFY(!qobject_cast<SettingBaseWithSwitchButton*>(box->rows().first())->isChecked());
    }

    // Saved biases come back after other edits; a file with faults applies its good lines and
    // names every fault in one warning.
    void biasPresetsRoundTrip()
    {
        QTemporaryDir dir;
        SidebarDvsSettingUI page;
        QSignalSpy tips(&page, &SidebarDvsSettingUI::signalShowLeftBottomTips);
        auto tool = std::make_shared<FakeTool>();
        tool->addInt("bias_fo", "", -35, 55, 0, "");
        tool->addInt("bias_hpf", "", 0, 120, 0, "");
        page.setBiasesToolUI(tool);
        SettingItemBox* box = page.groups().first();
        intRow(box, "Bias Fo")->findChild<QLineEdit*>("le_sv_line_edit")->setText("-20");
        intRow(box, "Bias Hpf")->findChild<QLineEdit*>("le_sv_line_edit")->setText("99");
        const QString path = dir.filePath("day.bias");
        page.saveBiasPreset(path);
        QTRY_COMPARE(tips.count(), 1);
        QCOMPARE(tips.last().at(1).value<SvMessageType>(), Success);

        intRow(box, "Bias Fo")->findChild<QLineEdit*>("le_sv_line_edit")->setText("7");
        page.loadBiasPreset(path);
        QTRY_COMPARE(tips.count(), 2);
        QCOMPARE(tips.last().at(1).value<SvMessageType>(), Success);
        QCOMPARE(ParameterTool::intValue(tool->values(), "bias_fo"), -20);
        QCOMPARE(intRow(box, "Bias Fo")->value(), -20);

        QFile faulty(dir.filePath("faulty.bias"));
        QVERIFY(faulty.open(QIODevice::WriteOnly));
        faulty.write("# from a peer\nbias_fo 5  # comment\nbias_hpf 500\nbias_refr 3\nbias_fo\n\n");
        faulty.close();
        const int before = tips.count();
        page.loadBiasPreset(faulty.fileName());
        QTRY_COMPARE(tips.count(), before + 1);
        const QString warning = tips.last().at(0).toString();
        QCOMPARE(tips.last().at(1).value<SvMessageType>(), Warning);
        QVERIFY2(warning.contains("bias_hpf 500") && warning.contains("bias_refr") && warning.contains("line 5"),
                 qPrintable(warning));
        QCOMPARE(ParameterTool::intValue(tool->values(), "bias_fo"), 5);
        QCOMPARE(ParameterTool::intValue(tool->values(), "bias_hpf"), 99);
        QCOMPARE(intRow(box, "Bias Fo")->value(), 5);

        page.loadBiasPreset(dir.filePath("missing.bias"));
        QTRY_COMPARE(tips.count(), before + 2);
        QCOMPARE(tips.last().at(1).value<SvMessageType>(), Warning);

        // Thousands of bad lines: the first few are named, the rest counted.
        QFile noisy(dir.filePath("noisy.bias"));
        QVERIFY(noisy.open(QIODevice::WriteOnly));
        for (int i = 0; i < 2000; ++i)
            noisy.write("bias_unknown 1\n");
        noisy.close();
        page.loadBiasPreset(noisy.fileName());
        QTRY_COMPARE(tips.count(), before + 3);
        const QString counted = tips.last().at(0).toString();
        QVERIFY2(counted.size() < 200 && counted.endsWith("and 1997 more"), qPrintable(counted.left(300)));
    }
};

QTEST_MAIN(TestSettingPages)
#include "tst_settingpages.moc"
