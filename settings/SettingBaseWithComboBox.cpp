#include "settings/SettingBaseWithComboBox.h"

#include "settings/SettingNames.h"
#include "ui_SettingBaseWithComboBox.h"
#include "widgets/SVComboBoxBase.h"
#include "widgets/SvToolTip.h"

#include <QSignalBlocker>

SettingBaseWithComboBox::SettingBaseWithComboBox(const std::string& name, QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::SettingBaseWithComboBox)
    , name(name)
{
    ui->setupUi(this);
    ui->lb_set_item_name->setText(toDisplayName(name));
    ui->cb_item->setEditEnabled(false);
    connect(ui->cb_item->comboBox(), &QComboBox::currentTextChanged, this, &SettingBaseWithComboBox::cbCurrentTextChanged);
}

SettingBaseWithComboBox::~SettingBaseWithComboBox()
{
    delete ui;
}

void SettingBaseWithComboBox::addItem(const QString& text)
{
    ui->cb_item->comboBox()->addItem(text);
}

void SettingBaseWithComboBox::showItem(const QString& text)
{
    const QSignalBlocker block(ui->cb_item->comboBox());
    ui->cb_item->comboBox()->setCurrentText(text);
}

void SettingBaseWithComboBox::setItemToolTip(const QString& text)
{
    auto* tip = new SvToolTip(text, SvToolTip::AboveLeft, this);
    tip->setTarget(ui->cb_item->comboBox());
}

SvComboBox* SettingBaseWithComboBox::comboBox() const
{
    return ui->cb_item;
}

void SettingBaseWithComboBox::cbCurrentTextChanged(const QString& arg1)
{
    emit signalItemValueChanged(name, arg1.toStdString());
}
