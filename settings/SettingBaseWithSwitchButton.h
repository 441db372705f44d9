#pragma once
// On/off setting row. Only the user's clicks are reported, so setting the state never writes.
#include <QWidget>

#include <string>

namespace Ui {
class SettingBaseWithSwitchButton;
}

class SettingBaseWithSwitchButton : public QWidget {
    Q_OBJECT
public:
    explicit SettingBaseWithSwitchButton(const std::string& name, QWidget* parent = nullptr);
    ~SettingBaseWithSwitchButton() override;

    // The name this row reports, as the camera spells it.
    std::string parameterName() const { return name; }

    void setChecked(bool checked);
    bool isChecked() const;
    void setItemToolTip(const QString& text);

signals:
    void signalItemValueChanged(std::string name, bool value);

public slots:
    void on_switchButton_clicked();

private:
    Ui::SettingBaseWithSwitchButton* ui;
    const std::string name;
};
