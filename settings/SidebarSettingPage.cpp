#include "settings/SidebarSettingPage.h"

#include "settings/SettingItemBox.h"
#include "settings/SettingRows.h"
#include "ui_SidebarSettingPage.h"

#include <QVBoxLayout>

SidebarSettingPage::SidebarSettingPage(const QString& title, QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::SidebarSettingPage)
{
    ui->setupUi(this);
    ui->lb_setting_ui->setText(title);
    auto* content = new QWidget;
    content->setObjectName("widget_setting_content");
    groupsLayout = new QVBoxLayout(content);
    groupsLayout->setContentsMargins(0, 0, 0, 0);
    groupsLayout->addStretch();
    ui->scroll_area_setting->setWidget(content);
}

SidebarSettingPage::~SidebarSettingPage()
{
    delete ui;
}

QList<SettingItemBox*> SidebarSettingPage::groups() const
{
    QList<SettingItemBox*> list;
    for (int i = 0; i < groupsLayout->count(); ++i)
        if (auto* box = qobject_cast<SettingItemBox*>(groupsLayout->itemAt(i)->widget()))
            list.append(box);
    return list;
}

void SidebarSettingPage::showGroup(SettingItemBox* box)
{
    box->setFolded(true);
    groupsLayout->insertWidget(std::max(0, groupsLayout->count() - 1), box);
    if (!groupsLayout->itemAt(groupsLayout->count() - 1)->spacerItem())
        groupsLayout->addStretch();
    update();
}

void SidebarSettingPage::removeGroup(QPointer<SettingItemBox>& box)
{
    if (!box)
        return;
    groupsLayout->removeWidget(box);
    delete box;
    box = nullptr;
    groupsLayout->update();
}

QWidget* SidebarSettingPage::parameterRow(const std::shared_ptr<sorvane::CameraTool>& tool, const std::string& name,
                                          const sorvane::BasicParameterInfo& info)
{
    return makeParameterRow(tool, name, info, [page = QPointer<SidebarSettingPage>(this)](const QString& message) {
        if (page)
            emit page->signalShowLeftBottomTips(message, Warning, QString());
    });
}
