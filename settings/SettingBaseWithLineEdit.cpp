#include "settings/SettingBaseWithLineEdit.h"

#include "settings/SettingNames.h"
#include "ui_SettingBaseWithLineEdit.h"
#include "widgets/SvToolTip.h"

#include <QSignalBlocker>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
const QString editingBorder = QStringLiteral("#004B6A");
const QString invalidBorder = QStringLiteral("#FF6058");
const QString idleBorder = QStringLiteral("#ACACAC");

} // namespace

SettingBaseWithLineEdit::SettingBaseWithLineEdit(const std::string& name, QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::SettingBaseWithLineEdit)
    , name(name)
{
    ui->setupUi(this);
    ui->lb_set_item_name->setText(toDisplayName(name));
    ui->lb_set_item_name->adjustSize();
    ui->widget_with_slider->hide();
    ui->horizontalSlider->setRange(minimum, maximum);
    // Pressing the slider keeps the edit focused, so the slider stays shown while dragged.
    ui->horizontalSlider->setFocusProxy(ui->le_sv_line_edit);
    connect(ui->le_sv_line_edit, &SvLineEditBase::signalMouseHoverd, this, [this](bool focused) {
        ui->widget_with_slider->setVisible(focused);
        // The edit recolours its own border on focus changes; a refusal that stands stays red.
        currentBorder = focused ? editingBorder : idleBorder;
        if (!focused && !valid)
            markEdit(invalidBorder);
    });
    connect(ui->le_sv_line_edit, &QLineEdit::editingFinished, this, &SettingBaseWithLineEdit::onEditingFinished);
    ui->le_sv_line_edit->setText(textOf(ui->horizontalSlider->value()));
}

SettingBaseWithLineEdit::~SettingBaseWithLineEdit()
{
    delete ui;
}

void SettingBaseWithLineEdit::setDecimals(int digits)
{
    decimals = std::clamp(digits, 0, 6);
    stepsPerUnit = std::pow(10.0, decimals);
}

void SettingBaseWithLineEdit::setItemRange(double min, double max)
{
    minimum = stepsOf(min);
    maximum = stepsOf(max);
    ui->horizontalSlider->setRange(minimum, maximum);
}

void SettingBaseWithLineEdit::setItemValue(double value)
{
    const int steps = stepsOf(value);
    if (steps < minimum || steps > maximum)
        return;
    ui->le_sv_line_edit->setText(textOf(steps));
    ui->horizontalSlider->setValue(steps);
}

void SettingBaseWithLineEdit::showItemValue(double value)
{
    const QSignalBlocker blockSlider(ui->horizontalSlider);
    const QSignalBlocker blockEdit(ui->le_sv_line_edit);
    ui->horizontalSlider->setValue(stepsOf(value));
    ui->le_sv_line_edit->setText(textOf(ui->horizontalSlider->value()));
}

void SettingBaseWithLineEdit::setItemUnit(const std::string& unit)
{
    if (unit.empty() || unit == " ")
        return;
    ui->lb_unit->setText("(" + QString::fromStdString(unit) + ")");
}

void SettingBaseWithLineEdit::setItemToolTip(const QString& text)
{
    auto* tip = new SvToolTip(text, SvToolTip::AboveLeft, this);
    tip->setTarget(this);
}

void SettingBaseWithLineEdit::setValueCallback(ValueCallback callback)
{
    valueCallback = std::move(callback);
}

void SettingBaseWithLineEdit::setValidState(bool ok)
{
    valid = ok;
    markEdit(ok ? idleBorder : invalidBorder);
}

double SettingBaseWithLineEdit::value() const
{
    return ui->horizontalSlider->value() / stepsPerUnit;
}

QString SettingBaseWithLineEdit::borderColor() const
{
    return currentBorder;
}

void SettingBaseWithLineEdit::on_horizontalSlider_valueChanged(int steps)
{
    // Text being typed that already says this value stays as typed ("1." on the way to "1.5").
    int typed = 0;
    if (!ui->le_sv_line_edit->hasFocus() || !parseSteps(ui->le_sv_line_edit->text(), typed) || typed != steps)
        ui->le_sv_line_edit->setText(textOf(steps));
    emit signalItemValueChanged(name, value());
    if (valueCallback)
        valueCallback(name, value());
}

void SettingBaseWithLineEdit::on_le_sv_line_edit_textChanged(const QString& arg1)
{
    int steps = 0;
    if (!parseSteps(arg1, steps)) {
        markEdit(invalidBorder);
        return;
    }
    ui->horizontalSlider->setValue(steps);
    if (ui->le_sv_line_edit->hasFocus())
        markEdit(editingBorder);
}

void SettingBaseWithLineEdit::onEditingFinished()
{
    int steps = 0;
    if (!parseSteps(ui->le_sv_line_edit->text(), steps)) {
        markEdit(invalidBorder);
        return;
    }
    ui->horizontalSlider->setValue(steps);
}

void SettingBaseWithLineEdit::on_pb_add_item_value_clicked()
{
    stepValue(+1);
}

void SettingBaseWithLineEdit::on_pb_sub_item_value_clicked()
{
    stepValue(-1);
}

void SettingBaseWithLineEdit::stepValue(int step)
{
    int value = 0;
    if (!parseSteps(ui->le_sv_line_edit->text(), value))
        return;
    // Computed in 64 bits: a step past INT_MAX or INT_MIN must not wrap into the range.
    const int64_t next = int64_t(value) + step;
    if (next > maximum || next < minimum)
        return;
    ui->horizontalSlider->setValue(int(next));
    if (ui->le_sv_line_edit->hasFocus())
        markEdit(editingBorder);
}

void SettingBaseWithLineEdit::markEdit(const QString& colour)
{
    currentBorder = colour;
    ui->le_sv_line_edit->setBorderColor(colour);
}

bool SettingBaseWithLineEdit::parseSteps(const QString& text, int& steps) const
{
    bool ok = false;
    if (decimals == 0) {
        steps = text.toInt(&ok, 10);
        return ok;
    }
    const double number = text.toDouble(&ok) * stepsPerUnit;
    if (!ok || !std::isfinite(number) || std::abs(number) > double(std::numeric_limits<int>::max()))
        return false;
    steps = int(std::lround(number));
    return true;
}

int SettingBaseWithLineEdit::stepsOf(double value) const
{
    const double steps = std::round(value * stepsPerUnit);
    return int(std::clamp(steps, double(std::numeric_limits<int>::min()), double(std::numeric_limits<int>::max())));
}

QString SettingBaseWithLineEdit::textOf(int steps) const
{
    return decimals == 0 ? QString::number(steps) : QString::number(steps / stepsPerUnit, 'f', decimals);
}
