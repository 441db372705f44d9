#include "settings/SettingDisplayItem.h"

#include "ui_SettingDisplayItem.h"
#include "widgets/SVComboBoxBase.h"
#include "widgets/SvComboBox.h"

#include <QLineEdit>
#include <QSignalBlocker>

namespace {
const QString editingBorder = QStringLiteral("border: 1px solid #004B6A;");
const QString invalidBorder = QStringLiteral("border: 1px solid #FF6058;");
const QString acceptedBorder = QStringLiteral("border: 1px solid #A7A7A7;");
const QString editingFrame = QStringLiteral("#D7E7EE");
const QString invalidFrame = QStringLiteral("#FFDAD8");

constexpr uint64_t maxAccumulationTime = 1'000'000;
constexpr double baseFps = 30.0;

void markChooser(SvComboBox* chooser, bool valid)
{
    chooser->setStyleProperty("border", valid ? editingBorder : invalidBorder);
    chooser->setFrameColor(valid ? editingFrame : invalidFrame);
}
} // namespace

SettingDisplayItem::SettingDisplayItem(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::SettingDisplayItem)
{
    ui->setupUi(this);
    SvComboBox* accumulation = ui->widget_combobox_accumulation_time;
    SvComboBox* slowRate = ui->widget_combobox_frame_rate;
    accumulation->comboBox()->addItems({"33.33ms", "100ms", "10ms", "1ms"});
    slowRate->comboBox()->addItems({"1", "2", "5", "10", "100", "1000"});

    connect(accumulation, &SvComboBox::signalLineEditTextChanged, this, &SettingDisplayItem::slotAccumulationTimeTextChanged);
    connect(accumulation->comboBox(), &QComboBox::currentTextChanged, this,
            &SettingDisplayItem::slotAccumulationTimeTextChanged);
    connect(accumulation, &SvComboBox::signalLineEditEditingFinished, this,
            &SettingDisplayItem::slotAccumulationTimeTextEditFinished);
    connect(slowRate, &SvComboBox::signalLineEditTextChanged, this, &SettingDisplayItem::slotFrameRateTextChanged);
    connect(slowRate, &SvComboBox::signalLineEditEditingFinished, this, &SettingDisplayItem::slotFrameRateEditTextFinished);
    accumulation->setEditEnabled(true);
    slowRate->setEditEnabled(true);
}

SettingDisplayItem::~SettingDisplayItem()
{
    delete ui;
}

void SettingDisplayItem::setSlowRateEnabled(bool enabled)
{
    ui->widget_combobox_frame_rate->setEnabled(enabled);
}

QString SettingDisplayItem::normaliseAccumulationTime(const QString& text)
{
    if (text.endsWith("ms") || text.endsWith("us"))
        return text;
    return text + "ms";
}

uint64_t SettingDisplayItem::parseAccumulationTime(const QString& text)
{
    const bool millis = text.endsWith("ms");
    if (!millis && !text.endsWith("us"))
        return 0;
    bool ok = false;
    const float number = text.left(text.size() - 2).toFloat(&ok);
    // Negative times and numbers beyond the 64-bit range are refused before the conversion.
    if (!ok || !(number > 0.0f))
        return 0;
    const double time_us = millis ? double(number) * 1000.0 : double(number);
    return time_us >= 18446744073709551615.0 ? 0 : uint64_t(time_us);
}

bool SettingDisplayItem::isValidAccumulationTime(uint64_t time_us)
{
    return time_us > 0 && time_us <= maxAccumulationTime;
}

int SettingDisplayItem::slowRateFps(const QString& text)
{
    bool ok = false;
    const double factor = text.toDouble(&ok);
    if (!ok || factor < 0.03 || factor > 1000.0)
        return -1;
    return int(uint32_t(factor * baseFps) & 0xFFFF);
}

void SettingDisplayItem::slotAccumulationTimeTextChanged(const QString& arg1)
{
    timeReported = false;
    const bool valid = isValidAccumulationTime(parseAccumulationTime(normaliseAccumulationTime(arg1)));
    markChooser(ui->widget_combobox_accumulation_time, valid);
    if (!valid)
        repaint();
}

void SettingDisplayItem::slotAccumulationTimeTextEditFinished()
{
    SvComboBox* chooser = ui->widget_combobox_accumulation_time;
    QLineEdit* edit = chooser->comboBox()->lineEdit();
    const QString text = normaliseAccumulationTime(edit->text());
    const uint64_t time_us = parseAccumulationTime(text);
    if (!isValidAccumulationTime(time_us))
        return;
    if (text != edit->text()) {
        const int cursor = edit->cursorPosition();
        // The completed text is not another edit: it would report the same value again.
        const QSignalBlocker blockCombo(chooser->comboBox());
        const QSignalBlocker blockEdit(edit);
        edit->setText(text);
        edit->setCursorPosition(cursor);
    }
    chooser->setStyleProperty("border", acceptedBorder);
    // Enter on a typed text finishes it twice, through the list and through the edit.
    if (timeReported)
        return;
    timeReported = true;
    emit signalCumulativeTimeChanged(time_us);
}

void SettingDisplayItem::slotFrameRateTextChanged(const QString& arg1)
{
    fpsReported = false;
    markChooser(ui->widget_combobox_frame_rate, slowRateFps(arg1) >= 0);
}

void SettingDisplayItem::slotFrameRateEditTextFinished()
{
    SvComboBox* chooser = ui->widget_combobox_frame_rate;
    const int fps = slowRateFps(chooser->comboBox()->lineEdit()->text());
    if (fps < 0)
        return;
    chooser->setStyleProperty("border", acceptedBorder);
    if (fpsReported)
        return;
    fpsReported = true;
    emit signalFpsChanged(uint32_t(fps));
}
