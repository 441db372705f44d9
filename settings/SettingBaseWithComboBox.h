#pragma once
// Setting row of a list of options; the value can only be chosen from the list.
#include <QWidget>

#include <string>

class SvComboBox;

namespace Ui {
class SettingBaseWithComboBox;
}

class SettingBaseWithComboBox : public QWidget {
    Q_OBJECT
public:
    explicit SettingBaseWithComboBox(const std::string& name, QWidget* parent = nullptr);
    ~SettingBaseWithComboBox() override;

    // The name this row reports, as the camera spells it.
    std::string parameterName() const { return name; }

    void addItem(const QString& text);
    // Shows the entry text without reporting it.
    void showItem(const QString& text);
    void setItemToolTip(const QString& text);
    SvComboBox* comboBox() const;

signals:
    void signalItemValueChanged(std::string name, std::string item);

public slots:
    void cbCurrentTextChanged(const QString& arg1);

private:
    Ui::SettingBaseWithComboBox* ui;
    const std::string name;
};
