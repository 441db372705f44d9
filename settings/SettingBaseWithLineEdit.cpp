#include "settings/SettingBaseWithLineEdit.h"

#include "settings/SettingNames.h"
#include "ui_SettingBaseWithLineEdit.h"
#include "widgets/SvToolTip.h"

#include <QSignalBlocker>

namespace {
const QString editingBorder = QStringLiteral("#004B6A");
const QString invalidBorder = QStringLiteral("#FF6058");
const QString idleBorder = QStringLiteral("#ACACAC");

bool parseInt(const QString& text, int& value)
{
    bool ok = false;
    value = text.toInt(&ok, 10);
    return ok;
}
} // namespace

SettingBaseWithLineEdit::SettingBaseWithLineEdit(const std::string& name, QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::SettingBaseWithLineEdit)
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
        // The edit recolours its own border on focus changes.
        currentBorder = focused ? editingBorder : idleBorder;
    });
    connect(ui->le_sv_line_edit, &QLineEdit::editingFinished, this, &SettingBaseWithLineEdit::onEditingFinished);
    ui->le_sv_line_edit->setText(QString::number(ui->horizontalSlider->value()));
}

SettingBaseWithLineEdit::~SettingBaseWithLineEdit()
{
    delete ui;
}

std::string SettingBaseWithLineEdit::parameterName() const
{
    return toParameterName(ui->lb_set_item_name->text());
}

void SettingBaseWithLineEdit::setItemRange(int min, int max)
{
    minimum = min;
    maximum = max;
    ui->horizontalSlider->setRange(min, max);
}

void SettingBaseWithLineEdit::setItemValue(int value)
{
    if (value < minimum || value > maximum)
        return;
    ui->le_sv_line_edit->setText(QString::number(value));
    ui->horizontalSlider->setValue(value);
}

void SettingBaseWithLineEdit::showItemValue(int value)
{
    const QSignalBlocker blockSlider(ui->horizontalSlider);
    const QSignalBlocker blockEdit(ui->le_sv_line_edit);
    ui->horizontalSlider->setValue(value);
    ui->le_sv_line_edit->setText(QString::number(ui->horizontalSlider->value()));
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
    markEdit(ok ? idleBorder : invalidBorder);
}

int SettingBaseWithLineEdit::value() const
{
    return ui->horizontalSlider->value();
}

QString SettingBaseWithLineEdit::borderColor() const
{
    return currentBorder;
}

void SettingBaseWithLineEdit::on_horizontalSlider_valueChanged(int value)
{
    ui->le_sv_line_edit->setText(QString::number(value));
    const std::string name = parameterName();
    emit signalItemValueChanged(name, value);
    if (valueCallback)
        valueCallback(name, value);
}

void SettingBaseWithLineEdit::on_le_sv_line_edit_textChanged(const QString& arg1)
{
    int value = 0;
    if (!parseInt(arg1, value)) {
        markEdit(invalidBorder);
        return;
    }
    ui->horizontalSlider->setValue(value);
    if (ui->le_sv_line_edit->hasFocus())
        markEdit(editingBorder);
}

void SettingBaseWithLineEdit::onEditingFinished()
{
    int value = 0;
    if (!parseInt(ui->le_sv_line_edit->text(), value)) {
        markEdit(invalidBorder);
        return;
    }
    ui->horizontalSlider->setValue(value);
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
    if (!parseInt(ui->le_sv_line_edit->text(), value))
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
