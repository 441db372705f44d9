// The setting rows alone: names and labels, the integer row's single report per change, and the
// display settings' texts.
#include "settings/SettingBaseWithComboBox.h"
#include "settings/SettingBaseWithLineEdit.h"
#include "settings/SettingBaseWithSwitchButton.h"
#include "settings/SettingDisplayItem.h"
#include "settings/SettingNames.h"
#include "widgets/SVComboBoxBase.h"
#include "widgets/SvComboBox.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <climits>
#include <memory>

Q_DECLARE_METATYPE(std::string)

namespace {

QList<int> reportedValues(const QSignalSpy& spy)
{
    QList<int> values;
    for (const QList<QVariant>& args : spy)
        values.append(args.at(1).toInt());
    return values;
}

// Types text key by key into edit, then finishes it with Enter or by taking the focus away.
void typeAndFinish(QLineEdit* edit, const QString& text, const QString& finish)
{
    edit->clear();
    QTest::keyClicks(edit, text);
    if (finish == "Enter") {
        QTest::keyClick(edit, Qt::Key_Return);
    } else {
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QCoreApplication::sendEvent(edit, &out);
    }
}

} // namespace

class TestSettingRows : public QObject {
    Q_OBJECT
private slots:
    void names_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("label");
        QTest::newRow("bias") << "bias_diff_on" << "Bias Diff On";
        QTest::newRow("digit then letter") << "roi_x0" << "Roi X0";
        QTest::newRow("digit word") << "channel_0" << "Channel 0";
        QTest::newRow("letter after digit") << "a_1b" << "A 1B";
        QTest::newRow("empty") << "" << "";
        // Names a camera spells otherwise are written back as it spells them.
        QTest::newRow("capitals and a blank") << "Exposure Time" << "Exposure Time";
        QTest::newRow("inner capital") << "autoGain_dB" << "AutoGain DB";
    }

    void names()
    {
        QFETCH(QString, name);
        QFETCH(QString, label);
        QCOMPARE(toDisplayName(name.toStdString()), label);
        QCOMPARE(SettingBaseWithLineEdit(name.toStdString()).parameterName(), name.toStdString());
        QCOMPARE(SettingBaseWithSwitchButton(name.toStdString()).parameterName(), name.toStdString());
        QCOMPARE(SettingBaseWithComboBox(name.toStdString()).parameterName(), name.toStdString());
    }

    void typedDigitsReportEachSliderChange()
    {
        SettingBaseWithLineEdit row("bias_fo");
        row.setItemRange(0, 100);
        row.setItemValue(0);
        QSignalSpy spy(&row, &SettingBaseWithLineEdit::signalItemValueChanged);
        auto* edit = row.findChild<QLineEdit*>("le_sv_line_edit");
        edit->clear();
        QTest::keyClicks(edit, "150");
        QCOMPARE(reportedValues(spy), (QList<int>{1, 15, 100}));
        QCOMPARE(spy.first().at(0).value<std::string>(), std::string("bias_fo"));
        QCOMPARE(edit->text(), QString("100"));
        QTest::keyClicks(edit, "7");
        QCOMPARE(spy.count(), 3);
    }

    // Plus and minus stop at the range ends, also where a step would pass the ends of int.
    void plusAndMinusStopAtTheRangeEnds_data()
    {
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("steps"); // plus for positive, minus for negative
        QTest::addColumn<QList<int>>("reported");
        QTest::newRow("down to the bottom") << -2 << 2 << 2 << -5 << QList<int>{1, 0, -1, -2};
        QTest::newRow("past the top") << -2 << 2 << 2 << 1 << QList<int>{};
        QTest::newRow("past INT_MAX") << INT_MIN << INT_MAX << INT_MAX << 1 << QList<int>{};
        QTest::newRow("past INT_MIN") << INT_MIN << INT_MAX << INT_MIN << -1 << QList<int>{};
    }

    void plusAndMinusStopAtTheRangeEnds()
    {
        QFETCH(int, minimum);
        QFETCH(int, maximum);
        QFETCH(int, start);
        QFETCH(int, steps);
        QFETCH(QList<int>, reported);
        SettingBaseWithLineEdit row("bias_fo");
        row.setItemRange(minimum, maximum);
        row.setItemValue(start);
        QSignalSpy spy(&row, &SettingBaseWithLineEdit::signalItemValueChanged);
        auto* button = row.findChild<QPushButton*>(steps > 0 ? "pb_add_item_value" : "pb_sub_item_value");
        for (int i = 0; i < std::abs(steps); ++i)
            button->click();
        QCOMPARE(reportedValues(spy), reported);
        QCOMPARE(row.value(), reported.isEmpty() ? start : reported.last());
    }

    void unreadableTextMarksRedAndReportsNothing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("lone minus") << "-";
        QTest::newRow("cleared") << "";
        QTest::newRow("letters") << "1a";
    }

    void unreadableTextMarksRedAndReportsNothing()
    {
        QFETCH(QString, text);
        SettingBaseWithLineEdit row("bias_fo");
        row.setItemRange(-10, 10);
        row.setItemValue(5);
        QSignalSpy spy(&row, &SettingBaseWithLineEdit::signalItemValueChanged);
        row.findChild<QLineEdit*>("le_sv_line_edit")->setText(text);
        QCOMPARE(spy.count(), 0);
        QCOMPARE(row.borderColor(), QString("#FF6058"));
        QCOMPARE(row.value(), 5);
        // Plus and minus need a number to start from.
        row.findChild<QPushButton*>("pb_add_item_value")->click();
        QCOMPARE(spy.count(), 0);
    }

    void valueOutsideTheRangeIsIgnored()
    {
        SettingBaseWithLineEdit row("bias_fo");
        row.setItemRange(10, 20);
        QCOMPARE(row.value(), 10); // the range clamps the slider
        row.setItemValue(15);
        row.setItemValue(0);
        QCOMPARE(row.value(), 15);
        row.setItemValue(21);
        QCOMPARE(row.value(), 15);
    }

    // Typed keys count once the text is finished, by Enter or by the focus leaving; nothing is
    // reported while typing. The accumulation time is reported in microseconds, the slow rate
    // as frames per second at its thirty frames a second.
    void typedDisplayValues_data()
    {
        QTest::addColumn<bool>("rate"); // else the accumulation time
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("finish");
        QTest::addColumn<qlonglong>("reported"); // -1: refused
        QTest::addColumn<QString>("shown");     // empty: as typed
        QTest::newRow("list entry") << false << "33.33ms" << "Enter" << 33330ll << "";
        QTest::newRow("no suffix") << false << "5" << "Enter" << 5000ll << "5ms";
        QTest::newRow("micro") << false << "250us" << "Enter" << 250ll << "";
        QTest::newRow("milli, focus leaves") << false << "2ms" << "focus" << 2000ll << "";
        QTest::newRow("one second") << false << "1000ms" << "Enter" << 1000000ll << "";
        QTest::newRow("too long") << false << "2000" << "Enter" << -1ll << "";
        QTest::newRow("just too long") << false << "1000001us" << "focus" << -1ll << "";
        QTest::newRow("zero") << false << "0ms" << "Enter" << -1ll << "";
        QTest::newRow("negative") << false << "-5ms" << "Enter" << -1ll << "";
        QTest::newRow("seconds") << false << "1s" << "Enter" << -1ll << "";
        QTest::newRow("huge") << false << "1e30us" << "Enter" << -1ll << "";
        QTest::newRow("rate one") << true << "1" << "Enter" << 30ll << "";
        QTest::newRow("rate half") << true << "0.5" << "Enter" << 15ll << "";
        QTest::newRow("rate two, focus leaves") << true << "2" << "focus" << 60ll << "";
        QTest::newRow("rate max") << true << "1000" << "Enter" << 30000ll << "";
        QTest::newRow("rate smallest") << true << "0.03" << "Enter" << 0ll << "";
        QTest::newRow("rate too small") << true << "0.02" << "Enter" << -1ll << "";
        QTest::newRow("rate too large") << true << "1001" << "Enter" << -1ll << "";
        QTest::newRow("rate as text") << true << "fast" << "focus" << -1ll << "";
    }

    void typedDisplayValues()
    {
        QFETCH(bool, rate);
        QFETCH(QString, typed);
        QFETCH(QString, finish);
        QFETCH(qlonglong, reported);
        QFETCH(QString, shown);
        SettingDisplayItem item;
        const auto spy = rate ? std::make_unique<QSignalSpy>(&item, &SettingDisplayItem::signalFpsChanged)
                              : std::make_unique<QSignalSpy>(&item, &SettingDisplayItem::signalCumulativeTimeChanged);
        const char* chooser = rate ? "widget_combobox_frame_rate" : "widget_combobox_accumulation_time";
        QLineEdit* edit = item.findChild<SvComboBox*>(chooser)->comboBox()->lineEdit();
        typeAndFinish(edit, typed, finish);
        QCOMPARE(spy->count(), reported < 0 ? 0 : 1);
        if (reported >= 0)
            QCOMPARE(spy->first().at(0).toLongLong(), reported);
        if (!rate)
            QCOMPARE(edit->text(), shown.isEmpty() ? typed : shown);
    }

    void choosingFromTheListReportsAtOnce()
    {
        SettingDisplayItem item;
        QSignalSpy spy(&item, &SettingDisplayItem::signalCumulativeTimeChanged);
        auto* list = item.findChild<SvComboBox*>("widget_combobox_accumulation_time")->comboBox();
        list->setCurrentIndex(list->findText("100ms"));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.last().at(0).toULongLong(), qulonglong(100000));
        list->setCurrentIndex(list->findText("1ms"));
        QCOMPARE(spy.last().at(0).toULongLong(), qulonglong(1000));
    }
};

QTEST_MAIN(TestSettingRows)
#include "tst_settingrows.moc"
