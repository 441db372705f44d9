#include "settings/SidebarDvsSettingUI.h"

#include "settings/BiasPreset.h"
#include "settings/SettingBaseWithComboBox.h"
#include "settings/SettingBaseWithLineEdit.h"
#include "settings/SettingBaseWithSwitchButton.h"
#include "settings/SettingItemBox.h"
#include "settings/SettingRows.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSaveFile>
#include <QtConcurrent/QtConcurrentRun>

#include <cmath>
#include <optional>

using sorvane::BasicParameterInfo;
using sorvane::BoolParameterInfo;
using sorvane::EnumParameterInfo;
using sorvane::FloatParameterInfo;
using sorvane::IntParameterInfo;
using Page = SidebarDvsSettingUI;

SidebarDvsSettingUI::SidebarDvsSettingUI(QWidget* parent)
    : SidebarSettingPage(tr("DVS Setting"), parent)
{
}

void SidebarDvsSettingUI::resetToolUIs()
{
    setBiasesToolUI(nullptr);
    setTriggerInToolUI(nullptr);
    setAntiFlickerToolUI(nullptr);
    setEventRateControlToolUI(nullptr);
    setEventTrailFilterToolUI(nullptr);
    setROIToolUI(nullptr);
}

void SidebarDvsSettingUI::setBiasesToolUI(ToolPtr tool)
{
    removeGroup(biasesBox);
    biasesTool = tool;
    if (!tool) {
        qDebug() << "Camera tool is null .";
        return;
    }
    biasesBox = buildToolGroup(tool, tr("Biases"), "camera biases is null .",
                               [&](SettingItemBox* box, const std::string& name, const BasicParameterInfo& info) {
        if (info.type == sorvane::ParameterInt)
            addRow(box, parameterRow(tool, name, info));
    });
    if (biasesBox) {
        biasesBox->addItemWidget(makeBiasPresetButtons());
        showGroup(biasesBox);
    }
}

QWidget* SidebarDvsSettingUI::makeBiasPresetButtons()
{
    auto* buttons = new QWidget;
    auto* layout = new QHBoxLayout(buttons);
    layout->setContentsMargins(12, 4, 12, 4);
    layout->addStretch();
    const QString style = QStringLiteral("QPushButton{border: 1px solid #004B6A; border-radius: 4px; color: #004B6A;"
                                         " background: #FFFFFF; padding: 4px 10px;}");
    auto* save = new QPushButton(tr("Save Biases"), buttons);
    save->setObjectName("pb_save_bias_preset");
    auto* load = new QPushButton(tr("Load Biases"), buttons);
    load->setObjectName("pb_load_bias_preset");
    for (QPushButton* button : {save, load}) {
        button->setStyleSheet(style);
        layout->addWidget(button);
    }
    connect(save, &QPushButton::clicked, this, [this] {
        const QString path = chooseBiasPresetFile(true);
        if (!path.isEmpty())
            saveBiasPreset(path);
    });
    connect(load, &QPushButton::clicked, this, [this] {
        const QString path = chooseBiasPresetFile(false);
        if (!path.isEmpty())
            loadBiasPreset(path);
    });
    return buttons;
}

QString SidebarDvsSettingUI::chooseBiasPresetFile(bool forSaving)
{
    const QString filter = tr("Bias presets (*.bias);;All files (*)");
    return forSaving ? QFileDialog::getSaveFileName(this, tr("Save Biases"), QString(), filter)
                     : QFileDialog::getOpenFileName(this, tr("Load Biases"), QString(), filter);
}

// Preset files are read and written off the GUI thread: a slow or network folder must not freeze
// the window. The watcher is the page's child, so a result that comes after the page is gone
// reaches nobody.
void SidebarDvsSettingUI::saveBiasPreset(const QString& path)
{
    if (!biasesTool)
        return;
    sorvane::ParameterInfoMap infos;
    biasesTool->getAllParameterInfo(infos);
    BiasValues values;
    for (const auto& [name, info] : infos) {
        int value = 0;
        if (info.type == sorvane::ParameterInt && biasesTool->getIntParameter(name, value))
            values.emplace_back(name, value);
    }
    const QByteArray text = formatBiasPreset(values).toUtf8();
    auto* watcher = new QFutureWatcher<bool>(this);
    connect(watcher, &QFutureWatcher<bool>::finished, this, [this, watcher, path] {
        watcher->deleteLater();
        if (watcher->result())
            emit signalShowLeftBottomTips(tr("Biases saved."), Success, QFileInfo(path).absolutePath());
        else
            emit signalShowLeftBottomTips(tr("Saving the biases failed: ") + QDir::toNativeSeparators(path), Error,
                                          QString());
    });
    watcher->setFuture(QtConcurrent::run([path, text] {
        // Written beside the target and renamed onto it when complete: a failed save keeps the old file.
        QSaveFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
    }));
}

void SidebarDvsSettingUI::loadBiasPreset(const QString& path)
{
    if (!biasesTool)
        return;
    auto* watcher = new QFutureWatcher<std::optional<QByteArray>>(this);
    connect(watcher, &QFutureWatcher<std::optional<QByteArray>>::finished, this, [this, watcher, path] {
        watcher->deleteLater();
        const std::optional<QByteArray> text = watcher->result();
        if (!text)
            emit signalShowLeftBottomTips(tr("Not a bias preset: ") + QDir::toNativeSeparators(path), Warning, QString());
        else
            applyBiasPreset(QString::fromUtf8(*text));
    });
    watcher->setFuture(QtConcurrent::run([path]() -> std::optional<QByteArray> {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || file.size() > maxBiasPresetBytes)
            return std::nullopt;
        return file.read(maxBiasPresetBytes);
    }));
}

void SidebarDvsSettingUI::applyBiasPreset(const QString& text)
{
    if (!biasesTool)
        return;
    QStringList problems;
    const BiasValues values = parseBiasPreset(text, problems);
    for (const auto& [name, value] : values) {
        const QString shownName = QString::fromStdString(name);
        sorvane::IntParameterInfo info;
        if (!biasesTool->getIntParameterInfo(name, info)) {
            problems.append(tr("unknown bias %1").arg(shownName));
        } else if (value < info.min || value > info.max) {
            problems.append(tr("%1 %2 outside %3..%4").arg(shownName).arg(value).arg(info.min).arg(info.max));
        } else if (!biasesTool->setIntParameter(name, value)) {
            problems.append(tr("%1 %2 refused by the camera").arg(shownName).arg(value));
        } else if (biasesBox) {
            for (auto* row : biasesBox->findChildren<SettingBaseWithLineEdit*>())
                if (row->parameterName() == name)
                    row->showItemValue(value);
        }
    }
    // A tip holds a few lines: the first problems by name, the others counted.
    constexpr int namedProblems = 3;
    QString named = problems.mid(0, namedProblems).join("; ");
    if (problems.size() > namedProblems)
        named += tr("; and %1 more").arg(problems.size() - namedProblems);
    if (problems.isEmpty())
        emit signalShowLeftBottomTips(tr("Biases loaded."), Success, QString());
    else
        emit signalShowLeftBottomTips(tr("Biases loaded except: ") + named, Warning, QString());
}

void SidebarDvsSettingUI::setTriggerInToolUI(ToolPtr tool)
{
    removeGroup(triggerInBox);
    if (!tool) {
        qDebug() << "camera device is null .";
        return;
    }
    triggerInBox = buildToolGroup(tool, tr("Trigger In"), "camera trigger is null .",
                                  [&](SettingItemBox* box, const std::string& name, const BasicParameterInfo& info) {
        if (info.type == sorvane::ParameterBool)
            addRow(box, parameterRow(tool, name, info));
    });
    if (triggerInBox)
        showGroup(triggerInBox);
}

void SidebarDvsSettingUI::setAntiFlickerToolUI(ToolPtr tool)
{
    removeGroup(antiFlickerBox);
    if (!tool) {
        qDebug() << "camera device is null .";
        return;
    }
    antiFlickerBox = buildToolGroup(tool, tr("Anti Flicker"), "camera anti flicker has no parameters .",
                                    [&](SettingItemBox* box, const std::string& name, const BasicParameterInfo& info) {
        QWidget* row = parameterRow(tool, name, info);
        if (!row)
            return;
        if (info.type == sorvane::ParameterBool) {
            // The switch heads the group, the mode follows it, then the numbers.
            box->insertItemWidget(row, 0);
        } else if (info.type == sorvane::ParameterEnum) {
            // Right after the switch when it came first; at the top when it is still to come.
            const QList<QWidget*> rows = box->rows();
            const bool switchFirst = !rows.isEmpty() && qobject_cast<SettingBaseWithSwitchButton*>(rows.first());
            box->insertItemWidget(row, switchFirst ? 1 : 0);
        } else {
            box->addItemWidget(row);
        }
    });
    if (antiFlickerBox)
        showGroup(antiFlickerBox);
}

void SidebarDvsSettingUI::setEventRateControlToolUI(ToolPtr tool)
{
    removeGroup(eventRateControlBox);
    if (!tool) {
        qDebug() << "camera device is null .";
        return;
    }
    eventRateControlBox = buildToolGroup(tool, tr("Event Rate Control"), "camera event rate control has no parameters .",
                                         [&](SettingItemBox* box, const std::string& name, const BasicParameterInfo& info) {
        addRow(box, parameterRow(tool, name, info));
    });
    if (eventRateControlBox)
        showGroup(eventRateControlBox);
}

void SidebarDvsSettingUI::setEventTrailFilterToolUI(ToolPtr tool)
{
    removeGroup(eventTrailFilterBox);
    if (!tool) {
        qDebug() << "camera device is null .";
        return;
    }
    eventTrailFilterBox = buildToolGroup(tool, tr("Event Trail Filter"), "camera event trail filter has no parameters .",
                                         [&](SettingItemBox* box, const std::string& name, const BasicParameterInfo& info) {
        addRow(box, parameterRow(tool, name, info));
    });
    if (eventTrailFilterBox)
        showGroup(eventTrailFilterBox);
}

void SidebarDvsSettingUI::addRow(SettingItemBox* box, QWidget* row)
{
    if (row)
        box->addItemWidget(row);
}

void SidebarDvsSettingUI::setROIToolUI(ToolPtr tool)
{
    removeGroup(roiBox);
    roiRows.clear();
    roiTool = tool;
    if (!tool) {
        qDebug() << "camera device is null .";
        return;
    }
    roiBox = buildToolGroup(tool, tr("ROI"), "camera roi is null .",
                            [&](SettingItemBox* box, const std::string& name, const BasicParameterInfo& info) {
        if (info.type == sorvane::ParameterInt) {
            IntParameterInfo intInfo;
            if (!tool->getIntParameterInfo(info.name, intInfo))
                return;
            int value = 0;
            tool->getIntParameter(info.name, value);
            auto* row = makeIntRow(name, intInfo, value);
            row->setValueCallback([this](const std::string& rowName, double rowValue) {
                return writeRoiValue(rowName, int(std::lround(rowValue)));
            });
            box->addItemWidget(row);
            roiRows.append(row);
        } else if (info.type == sorvane::ParameterBool) {
            addRow(box, parameterRow(tool, name, info));
        }
    });
    if (roiBox)
        showGroup(roiBox);
}

bool SidebarDvsSettingUI::writeRoiValue(const std::string& name, int value)
{
    const bool accepted = roiTool->setIntParameter(name, value);
    for (const QPointer<SettingBaseWithLineEdit>& row : std::as_const(roiRows))
        if (row)
            row->setValidState(accepted);
    return accepted;
}

void SidebarDvsSettingUI::slotCumulativeTimeChanged(uint64_t time_us)
{
    emit signalCumulativeTimeChanged(time_us);
}

void SidebarDvsSettingUI::slotFpsChanged(uint32_t fps)
{
    emit signalFpsChanged(fps);
}
