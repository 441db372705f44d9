#pragma once
// Number setting row: name, unit, minus, edit, plus, and a slider shown while the edit has the
// focus. Every path (typing, buttons, dragging, setItemValue) ends in the slider, and the slider
// alone reports a value, so each change is reported exactly once and always lies in the range.
// The slider counts steps of the row's smallest decimal, so decimals are edited as they are.
#include <QWidget>

#include <functional>
#include <string>

namespace Ui {
class SettingBaseWithLineEdit;
}

class SettingBaseWithLineEdit : public QWidget {
    Q_OBJECT
public:
    // Runs after signalItemValueChanged on every reported change; its result is for its owner.
    using ValueCallback = std::function<bool(const std::string& name, double value)>;

    explicit SettingBaseWithLineEdit(const std::string& name, QWidget* parent = nullptr);
    ~SettingBaseWithLineEdit() override;

    // The name this row reports, as the camera spells it.
    std::string parameterName() const { return name; }

    // Digits after the decimal point (0, whole numbers, unless set); set before the range.
    void setDecimals(int digits);
    void setItemRange(double min, double max);
    // Ignored outside the range.
    void setItemValue(double value);
    // Shows value (clamped to the range) without reporting it: for values already written.
    void showItemValue(double value);
    void setItemUnit(const std::string& unit);
    void setItemToolTip(const QString& text);
    void setValueCallback(ValueCallback callback);
    // Grey edit border when ok, red otherwise; red stays when the edit loses the focus.
    void setValidState(bool ok);

    double value() const;
    QString borderColor() const;

signals:
    void signalItemValueChanged(std::string name, double value);

public slots:
    void on_horizontalSlider_valueChanged(int value);
    void on_le_sv_line_edit_textChanged(const QString& arg1);
    void on_pb_add_item_value_clicked();
    void on_pb_sub_item_value_clicked();

private:
    void onEditingFinished();
    // Moves the slider by step from the edit's value, within minimum..maximum.
    void stepValue(int step);
    void markEdit(const QString& colour);
    // The slider's position for an edit's text or a value, and the text of a position.
    bool parseSteps(const QString& text, int& steps) const;
    int stepsOf(double value) const;
    QString textOf(int steps) const;

    Ui::SettingBaseWithLineEdit* ui;
    const std::string name;
    int decimals = 0;
    double stepsPerUnit = 1;
    // The range in slider steps.
    int minimum = 0;
    int maximum = 99;
    ValueCallback valueCallback;
    QString currentBorder;
    bool valid = true;
};
