// The setting rows alone: names and labels, the integer row's single report per change, and the
// display settings' texts.
#include "settings/SettingBaseWithLineEdit.h"
#include "settings/SettingDisplayItem.h"
#include "settings/SettingNames.h"
#include "widgets/SVComboBoxBase.h"
#include "widgets/SvComboBox.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <climits>

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
    }

    void names()
    {
        QFETCH(QString, name);
        QFETCH(QString, label);
        QCOMPARE(toDisplayName(name.toStdString()), label);
        QCOMPARE(QString::fromStdString(toParameterName(label)), name);
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
    // reported while typing.
    void accumulationTime_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("finish");
        QTest::addColumn<qulonglong>("time_us"); // 0: refused
        QTest::addColumn<QString>("shown");
        QTest::newRow("list entry") << "33.33ms" << "Enter" << qulonglong(33330) << "33.33ms";
        QTest::newRow("no suffix") << "5" << "Enter" << qulonglong(5000) << "5ms";
        QTest::newRow("micro") << "250us" << "Enter" << qulonglong(250) << "250us";
        QTest::newRow("milli, focus leaves") << "2ms" << "focus" << qulonglong(2000) << "2ms";
        QTest::newRow("one second") << "1000ms" << "Enter" << qulonglong(1000000) << "1000ms";
        QTest::newRow("too long") << "2000" << "Enter" << qulonglong(0) << "2000";
        QTest::newRow("just too long") << "1000001us" << "focus" << qulonglong(0) << "1000001us";
        QTest::newRow("zero") << "0ms" << "Enter" << qulonglong(0) << "0ms";
        QTest::newRow("negative") << "-5ms" << "Enter" << qulonglong(0) << "-5ms";
        QTest::newRow("seconds") << "1s" << "Enter" << qulonglong(0) << "1s";
        QTest::newRow("huge") << "1e30us" << "Enter" << qulonglong(0) << "1e30us";
    }

    void accumulationTime()
    {
        QFETCH(QString, typed);
        QFETCH(QString, finish);
        QFETCH(qulonglong, time_us);
        QFETCH(QString, shown);
        SettingDisplayItem item;
        QSignalSpy spy(&item, &SettingDisplayItem::signalCumulativeTimeChanged);
        QLineEdit* edit = item.findChild<SvComboBox*>("widget_combobox_accumulation_time")->comboBox()->lineEdit();
        typeAndFinish(edit, typed, finish);
        QCOMPARE(spy.count(), time_us == 0 ? 0 : 1);
        if (time_us != 0)
            QCOMPARE(spy.first().at(0).toULongLong(), time_us);
        QCOMPARE(edit->text(), shown);
    }

    void slowRate_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("finish");
        QTest::addColumn<int>("fps"); // -1: refused
        QTest::newRow("one") << "1" << "Enter" << 30;
        QTest::newRow("half") << "0.5" << "Enter" << 15;
        QTest::newRow("two, focus leaves") << "2" << "focus" << 60;
        QTest::newRow("max") << "1000" << "Enter" << 30000;
        QTest::newRow("smallest") << "0.03" << "Enter" << 0;
        QTest::newRow("too small") << "0.02" << "Enter" << -1;
        QTest::newRow("too large") << "1001" << "Enter" << -1;
        QTest::newRow("text") << "fast" << "focus" << -1;
    }

    void slowRate()
    {
        QFETCH(QString, typed);
        QFETCH(QString, finish);
        QFETCH(int, fps);
        SettingDisplayItem item;
        QSignalSpy spy(&item, &SettingDisplayItem::signalFpsChanged);
        QLineEdit* edit = item.findChild<SvComboBox*>("widget_combobox_frame_rate")->comboBox()->lineEdit();
        typeAndFinish(edit, typed, finish);
        QCOMPARE(spy.count(), fps < 0 ? 0 : 1);
        if (fps >= 0)
            QCOMPARE(spy.first().at(0).toUInt(), uint(fps));
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
