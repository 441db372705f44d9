#pragma once
// The frame shared by the settings pages: a title over a scroll area holding a column of
// setting groups that ends with a stretch. Groups are shown in the order they are added.
#include "SorvaneHal/CameraTool.h"
#include "app/SvMessageType.h"

#include <QPointer>
#include <QWidget>

#include <memory>
#include <string>

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

signals:
    // What the camera refused or a preset file held, for the window's tips.
    void signalShowLeftBottomTips(QString tips, SvMessageType type, QString file_path);

protected:
    SidebarSettingPage(const QString& title, QWidget* parent);

    // Folds box and shows it after the groups already there.
    void showGroup(SettingItemBox* box);
    // Deletes the group if there is one.
    void removeGroup(QPointer<SettingItemBox>& box);
    // The row of one of tool's parameters; what the camera refuses is told in a warning tip.
    QWidget* parameterRow(const std::shared_ptr<sorvane::CameraTool>& tool, const std::string& name,
                          const sorvane::BasicParameterInfo& info);

private:
    Ui::SidebarSettingPage* ui;
    QVBoxLayout* groupsLayout = nullptr;
};
