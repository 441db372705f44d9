#include "settings/SettingBaseWithSwitchButton.h"

#include "settings/SettingNames.h"
#include "ui_SettingBaseWithSwitchButton.h"
#include "widgets/SvToolTip.h"

SettingBaseWithSwitchButton::SettingBaseWithSwitchButton(const std::string& name, QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::SettingBaseWithSwitchButton)
    , name(name)
{
    ui->setupUi(this);
    ui->lb_item_name->setText(toDisplayName(name));
}

SettingBaseWithSwitchButton::~SettingBaseWithSwitchButton()
{
    delete ui;
}

void SettingBaseWithSwitchButton::setChecked(bool checked)
{
    ui->switchButton->setChecked(checked);
}

bool SettingBaseWithSwitchButton::isChecked() const
{
    return ui->switchButton->isChecked();
}

void SettingBaseWithSwitchButton::setItemToolTip(const QString& text)
{
    auto* tip = new SvToolTip(text, SvToolTip::AboveLeft, this);
    tip->setTarget(this);
}

void SettingBaseWithSwitchButton::on_switchButton_clicked()
{
    emit signalItemValueChanged(name, ui->switchButton->isChecked());
}
