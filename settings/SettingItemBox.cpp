#include "settings/SettingItemBox.h"

#include "ui_SettingItemBox.h"

SettingItemBox::SettingItemBox(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::SettingItemBox)
{
    ui->setupUi(this);
    setMouseTracking(true);
    setAttribute(Qt::WA_TranslucentBackground);
    setFolded(true);
}

SettingItemBox::~SettingItemBox()
{
    delete ui;
}

void SettingItemBox::setTitle(const QString& title)
{
    ui->lb_setting_box_title_text->setText(title);
}

QString SettingItemBox::title() const
{
    return ui->lb_setting_box_title_text->text();
}

void SettingItemBox::addItemWidget(QWidget* row)
{
    // The layout sizes the row when the group is shown; measuring it now would polish the whole
    // group once per row.
    ui->verticalLayout->addWidget(row);
    update();
}

void SettingItemBox::insertItemWidget(QWidget* row, int index)
{
    ui->verticalLayout->insertWidget(index, row);
    update();
}

QList<QWidget*> SettingItemBox::rows() const
{
    QList<QWidget*> list;
    for (int i = 0; i < ui->verticalLayout->count(); ++i)
        if (QWidget* w = ui->verticalLayout->itemAt(i)->widget())
            list.append(w);
    return list;
}

void SettingItemBox::setFolded(bool folded)
{
    applyFold(folded);
    ui->pb_fold->setChecked(folded);
}

bool SettingItemBox::isFolded() const
{
    return ui->pb_fold->isChecked();
}

void SettingItemBox::setRestoreDefaultsVisible(bool visible)
{
    ui->pb_restore_defaults->setVisible(visible);
}

void SettingItemBox::on_pb_restore_defaults_clicked()
{
    emit signalRestoreDefaults();
}

void SettingItemBox::on_pb_fold_clicked(bool checked)
{
    applyFold(checked);
}

void SettingItemBox::applyFold(bool folded)
{
    ui->widget_container->setVisible(!folded);
    // The open group is marked by a primary bar on its left edge.
    const QString style = folded ? QStringLiteral("#widget_setting_box_title{background: #F4F5F7; border: none;}")
                                 : QStringLiteral("#widget_setting_box_title{background: #E1E9ED; border: none; border-left: 2px solid #004B6A;}");
    ui->widget_setting_box_title->setStyleSheet(style);
}
