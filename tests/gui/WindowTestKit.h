#pragma once
// What the suites of the real main window share: the window with its file dialog replaced, the
// tips it shows, answers to its modal dialogs, and recordings read back.
#include "SorvaneDriver/DvsFileReader.h"
#include "app/CamerasList.h"
#include "app/MainWidget.h"
#include "widgets/SvFilePathReminderForm.h"

#include <QAction>
#include <QApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

// The window with the file dialog replaced: the test names the recording to open.
class TestableMainWidget : public MainWidget {
public:
    QString nextRecording;

    QAction* action(const QString& text) const
    {
        for (QAction* action : findChildren<QAction*>())
            if (action->text() == text)
                return action;
        return nullptr;
    }

protected:
    QString chooseRecordingToOpen() override { return nextRecording; }
};

inline QList<SvFilePathReminderForm*> shownTips()
{
    QList<SvFilePathReminderForm*> tips;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* tip = qobject_cast<SvFilePathReminderForm*>(widget); tip && tip->isVisible())
            tips << tip;
    return tips;
}

inline SvFilePathReminderForm* tipContaining(const QString& text, SvMessageType type)
{
    for (SvFilePathReminderForm* tip : shownTips())
        if (tip->messageType() == type && tip->tips().contains(text))
            return tip;
    return nullptr;
}

inline void closeAllTips()
{
    for (SvFilePathReminderForm* tip : shownTips())
        tip->close();
    QCoreApplication::processEvents();
}

// Runs action while a modal dialog of type Dialog is expected: answer fills it in once it is up.
// False when none came up.
template <typename Dialog>
bool answerDialog(const std::function<void()>& action, const std::function<void(Dialog*)>& answer)
{
    bool answered = false;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
            poll.stop();
            answered = true;
            answer(dialog);
        }
    });
    poll.start();
    action();
    poll.stop();
    return answered;
}

// Runs command, which brings up the range dialog Dialog, and saves under name in the dialog's
// folder; the path saved to, empty when no dialog came up.
template <typename Dialog>
QString saveThroughDialog(const std::function<void()>& command, const QString& name)
{
    QString path;
    answerDialog<Dialog>(command, [&](Dialog* dialog) {
        if (auto* edit = dialog->template findChild<QLineEdit*>("le_file_name"))
            edit->setText(name);
        path = dialog->getFilePath();
        QTest::mouseClick(dialog->template findChild<QPushButton*>("pb_save"), Qt::LeftButton);
    });
    return path;
}

// "Open Camera", then in the camera list the row of serial and "Open" ("Close" when serial is
// empty). False when the list did not come up.
inline bool pickCamera(TestableMainWidget& window, const QString& serial)
{
    return answerDialog<CamerasList>([&] { window.action("Open Camera")->trigger(); }, [&](CamerasList* list) {
        auto* rows = list->findChild<QListWidget*>("listWidget_cameras");
        for (int i = 0; i < rows->count(); ++i)
            if (rows->item(i)->text() == serial)
                rows->setCurrentRow(i);
        QTest::mouseClick(list->findChild<QPushButton*>(serial.isEmpty() ? "pb_close" : "pb_open"), Qt::LeftButton);
    });
}

// All of a recording file; empty when it cannot be read.
struct ReadBack {
    std::vector<sorvane::Event2D> events;
    std::vector<sorvane::EventTriggerIn> triggers;
    sorvane::DvsFileInfo info;
};

inline ReadBack readBack(const QString& path)
{
    ReadBack r;
    auto reader = sorvane::DvsFileReader::createFileReader(path.toStdString());
    uint64_t first = 0;
    uint64_t last = 0;
    if (!reader || !reader->loadFile() || !reader->getStartTimestamp(first) || !reader->getEndTimestamp(last))
        return r;
    if (auto events = reader->getEventsByTime(first, last - first + 1))
        r.events = *events;
    r.triggers = reader->getTriggerEvents(0, UINT64_MAX);
    reader->getFileInfo(r.info);
    return r;
}

inline QByteArray fileHash(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                                          : QByteArray();
}
