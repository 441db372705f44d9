#pragma once
// Integer setting row: name, unit, minus, edit, plus, and a slider shown while the edit has the
// focus. Every path (typing, buttons, dragging, setItemValue) ends in the slider, and the slider
// alone reports a value, so each change is reported exactly once and always lies in the range.
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
    using ValueCallback = std::function<bool(const std::string& name, int value)>;

    explicit SettingBaseWithLineEdit(const std::string& name, QWidget* parent = nullptr);
    ~SettingBaseWithLineEdit() override;

    // The name this row reports, read back from its label.
    std::string parameterName() const;

    void setItemRange(int min, int max);
    // Ignored outside the range.
    void setItemValue(int value);
    // Shows value (clamped to the range) without reporting it: for values already written.
    void showItemValue(int value);
    void setItemUnit(const std::string& unit);
    void setItemToolTip(const QString& text);
    void setValueCallback(ValueCallback callback);
    // Grey edit border when ok, red otherwise.
    void setValidState(bool ok);

    int value() const;
    QString borderColor() const;

signals:
    void signalItemValueChanged(std::string name, int value);

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

    Ui::SettingBaseWithLineEdit* ui;
    int minimum = 0;
    int maximum = 99;
    ValueCallback valueCallback;
    QString currentBorder;
};
