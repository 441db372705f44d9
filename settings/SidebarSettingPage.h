#pragma once
// The frame shared by the settings pages: a title over a scroll area holding a column of
// setting groups that ends with a stretch. Groups are shown in the order they are added.
#include <QPointer>
#include <QWidget>

class QVBoxLayout;
class SettingItemBox;

namespace Ui {
class SidebarSettingPage;
}

class SidebarSettingPage : public QWidget {
    Q_OBJECT
public:
    ~SidebarSettingPage() override;

    // The groups in their shown order.
    QList<SettingItemBox*> groups() const;

protected:
    SidebarSettingPage(const QString& title, QWidget* parent);

    // Folds box and shows it after the groups already there.
    void showGroup(SettingItemBox* box);
    // Deletes the group if there is one.
    void removeGroup(QPointer<SettingItemBox>& box);

private:
    Ui::SidebarSettingPage* ui;
    QVBoxLayout* groupsLayout = nullptr;
};
