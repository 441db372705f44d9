#include "Utility/SvCutRawFile.h"
#include "Utility/SvExportVideoUI.h"
#include "widgets/SVMessageBox.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace {
// Answers of the folder chooser, in place of the native dialog.
struct ChooserScript {
    QString answer;
    QString askedStart;
    int asked = 0;
};

template <class Dialog>
class Scripted : public Dialog {
public:
    explicit Scripted(ChooserScript* script)
        : script(script)
    {
    }

protected:
    QString chooseDirectory(const QString& start) override
    {
        ++script->asked;
        script->askedStart = start;
        return script->answer;
    }

private:
    ChooserScript* script;
};

std::unique_ptr<SvRangeFileDialog> makeDialog(const QString& kind, ChooserScript* script)
{
    if (kind == "cut")
        return std::make_unique<Scripted<SvCutRawFile>>(script);
    return std::make_unique<Scripted<SvExportVideoUI>>(script);
}

QString proposedName(const QString& kind, const QDateTime& at)
{
    return kind == "cut" ? SvCutRawFile::proposedFileName(at) : SvExportVideoUI::proposedFileName(at);
}

void addKinds(const char* name, const std::function<void(QTestData&)>& columns)
{
    for (const char* kind : {"cut", "export"})
        columns(QTest::newRow(qPrintable(QString("%1: %2").arg(kind, name))) << QString(kind));
}

template <class T>
T* child(QDialog* dialog, const char* name)
{
    T* widget = dialog->findChild<T*>(name);
    if (!widget)
        qFatal("form has no %s", name);
    return widget;
}

// Clicks save; a question whether to replace a file is answered with agree. Returns the question,
// empty when none was asked.
QString saveAnswering(QDialog* dialog, bool agree)
{
    QString asked;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<SVMessageBox*>(QApplication::activeModalWidget())) {
            poll.stop();
            asked = child<QLabel>(box, "lb_show_message")->text();
            QTest::mouseClick(child<QPushButton>(box, agree ? "pb_open" : "pb_close"), Qt::LeftButton);
        }
    });
    poll.start();
    QTest::mouseClick(child<QPushButton>(dialog, "pb_save"), Qt::LeftButton);
    return asked;
}

// Typed where QTest can type it (Latin-1), set otherwise.
void retype(QLineEdit* edit, const QString& text)
{
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    const bool latin1 = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
    if (latin1)
        QTest::keyClicks(edit, text);
    else
        edit->setText(text);
}
}

class TestRangeDialogs : public QObject {
    Q_OBJECT
private:
    ChooserScript script;

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { script = {}; }

    void acceptingWithoutEditsReturnsThePreset_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<uint64_t>("start");
        QTest::addColumn<uint64_t>("end");
        QTest::addColumn<bool>("viaExec");
        for (const char* kind : {"cut", "export"}) {
            const QString k(kind);
            QTest::newRow(qPrintable(k + ": short")) << k << uint64_t(0) << uint64_t(1'000'000) << false;
            QTest::newRow(qPrintable(k + ": past 2^31 us")) << k << uint64_t(3'000'000'000ULL)
                                                           << uint64_t(3'600'000'000ULL) << false;
            QTest::newRow(qPrintable(k + ": past 2^32 us, modal")) << k << uint64_t(5'000'000'000'000ULL)
                                                                  << uint64_t(5'000'000'000'010ULL) << true;
        }
    }
    void acceptingWithoutEditsReturnsThePreset()
    {
        QFETCH(QString, kind);
        QFETCH(uint64_t, start);
        QFETCH(uint64_t, end);
        QFETCH(bool, viaExec);
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + "/SorvaneData";
        auto dialog = makeDialog(kind, &script);
        dialog->setStartTime(start);
        dialog->setEndTime(end);
        dialog->setFilePath(folder);
        dialog->setFileName(proposedName(kind, QDateTime(QDate(2026, 3, 5), QTime(14, 7, 9))));

        QSignalSpy accepted(dialog.get(), &QDialog::accepted);
        auto* save = child<QPushButton>(dialog.get(), "pb_save");
        if (viaExec) {
            QTimer::singleShot(0, save, [save] { QTest::mouseClick(save, Qt::LeftButton); });
            QCOMPARE(dialog->exec(), int(QDialog::Accepted));
        } else {
            dialog->show();
            QTest::mouseClick(save, Qt::LeftButton);
            QCOMPARE(dialog->result(), int(QDialog::Accepted));
        }
        QCOMPARE(accepted.count(), 1);
        QCOMPARE(dialog->getStartTime(), start);
        QCOMPARE(dialog->getEndTime(), end);
        QCOMPARE(dialog->getFileDir(), folder);
        QCOMPARE(dialog->getFilePath(), folder + "/20260305_140709" + (kind == "cut" ? ".raw" : ".mp4"));
    }

    void timeFieldsReadAsUnsignedDecimals_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<uint64_t>("expected");
        QTest::addColumn<bool>("markedInvalid");
        // One parser behind both dialogs and both fields: each case runs on one of them in turn.
        const std::pair<QString, QString> places[] = {
            {"cut", "le_start_time"}, {"export", "le_end_time"}, {"cut", "le_end_time"}, {"export", "le_start_time"}};
        int next = 0;
        auto row = [&](const char* name, const char* text, uint64_t expected, bool invalid) {
            const auto& [kind, field] = places[next++ % 4];
            QTest::newRow(qPrintable(kind + " " + field + ": " + name)) << kind << field << QString(text) << expected << invalid;
        };
        row("number", "1234567", 1'234'567, false);
        row("above 2^32", "9000000000", 9'000'000'000ULL, false);
        row("largest", "18446744073709551615", UINT64_MAX, false);
        row("letters", "abc", 0, true);
        row("letters after digits", "12a", 0, true);
        row("negative", "-5", 0, true);
        row("too large", "18446744073709551616", 0, true);
        row("empty", "", 0, false);
    }
    void timeFieldsReadAsUnsignedDecimals()
    {
        QFETCH(QString, kind);
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(uint64_t, expected);
        QFETCH(bool, markedInvalid);
        auto dialog = makeDialog(kind, &script);
        dialog->setStartTime(111);
        dialog->setEndTime(222);
        dialog->show();
        auto* edit = child<QLineEdit>(dialog.get(), qPrintable(field));
        retype(edit, text);
        QCOMPARE(edit->text(), text);
        const bool isStart = field == "le_start_time";
        QCOMPARE(isStart ? dialog->getStartTime() : dialog->getEndTime(), expected);
        QCOMPARE(isStart ? dialog->getEndTime() : dialog->getStartTime(), uint64_t(isStart ? 222 : 111));
        QCOMPARE(edit->property("invalid").toBool(), markedInvalid);
    }

    void pathJoinsFolderAndName_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        // One joiner behind both dialogs: the cases alternate between them.
        QTest::newRow("cut: plain") << "cut" << "/data/rec" << "a.raw" << "/data/rec/a.raw";
        QTest::newRow("export: empty name") << "export" << "/data/rec" << "" << "/data/rec/";
        QTest::newRow("cut: empty folder") << "cut" << "" << "a.mp4" << "/a.mp4";
        QTest::newRow("export: no extension kept") << "export" << "/v" << "clip" << "/v/clip";
        QTest::newRow("cut: spaces and CJK") << "cut" << "/home/u/My Videos" << QString::fromUtf8("\xe5\xbd\x95\xe5\x83\x8f 1.mp4")
                                             << QString::fromUtf8("/home/u/My Videos/\xe5\xbd\x95\xe5\x83\x8f 1.mp4");
    }
    void pathJoinsFolderAndName()
    {
        QFETCH(QString, kind);
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QFETCH(QString, expected);
        auto dialog = makeDialog(kind, &script);
        dialog->show();
        retype(child<QLineEdit>(dialog.get(), "le_save_file_path"), folder);
        retype(child<QLineEdit>(dialog.get(), "le_file_name"), name);
        QCOMPARE(dialog->getFilePath(), expected);
        QCOMPARE(dialog->getFileDir(), folder);
    }

    // The buttons and keys that end the dialog; Enter saves wherever the focus is in the fields.
    void buttonsAndKeysEndTheDialog_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("accepts");
        for (const char* how : {"pb_cancel", "pb_win_close", "Escape"})
            addKinds(how, [how](QTestData& row) { row << QString(how) << false; });
        for (const char* focus : {"le_file_name", "le_end_time"})
            addKinds(focus, [focus](QTestData& row) { row << QString(focus) << true; });
    }
    void buttonsAndKeysEndTheDialog()
    {
        QFETCH(QString, kind);
        QFETCH(QString, how);
        QFETCH(bool, accepts);
        auto dialog = makeDialog(kind, &script);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        QSignalSpy accepted(dialog.get(), &QDialog::accepted);
        QSignalSpy rejected(dialog.get(), &QDialog::rejected);
        if (how == "Escape") {
            QTest::keyClick(dialog.get(), Qt::Key_Escape);
        } else if (how.startsWith("le_")) {
            QLineEdit* field = child<QLineEdit>(dialog.get(), qPrintable(how));
            field->setFocus();
            QTest::keyClick(field, Qt::Key_Return);
        } else {
            QTest::mouseClick(child<QPushButton>(dialog.get(), qPrintable(how)), Qt::LeftButton);
        }
        QCOMPARE(accepted.count(), accepts ? 1 : 0);
        QCOMPARE(rejected.count(), accepts ? 0 : 1);
        QCOMPARE(dialog->result(), int(accepts ? QDialog::Accepted : QDialog::Rejected));
        QVERIFY(!dialog->isVisible());
    }

    void folderChooser_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("expected");
        addKinds("cancelled keeps the folder", [](QTestData& row) { row << "" << "/data/old"; });
        addKinds("chosen replaces it", [](QTestData& row) { row << "/data/new" << "/data/new"; });
    }
    void folderChooser()
    {
        QFETCH(QString, kind);
        QFETCH(QString, answer);
        QFETCH(QString, expected);
        auto dialog = makeDialog(kind, &script);
        dialog->setFilePath("/data/old");
        dialog->setFileName("x");
        dialog->show();
        script.answer = answer;
        QTest::mouseClick(child<QPushButton>(dialog.get(), "pb_select_dir"), Qt::LeftButton);
        QCOMPARE(script.asked, 1);
        QCOMPARE(script.askedStart, QString("/data/old"));
        QCOMPARE(dialog->getFileDir(), expected);
        QCOMPARE(dialog->getFilePath(), expected + "/x");
        QVERIFY(dialog->isVisible());
    }

    void plusAndMinusStepOneSecond_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        // The four buttons of both dialogs share one stepper: each case runs on one field in turn.
        const std::pair<QString, QString> places[] = {{"cut", "start"}, {"export", "end"}, {"cut", "end"}, {"export", "start"}};
        int next = 0;
        auto row = [&](const char* name, const char* dir, const char* before, const char* after) {
            const auto& [kind, which] = places[next++ % 4];
            QTest::newRow(qPrintable(kind + " " + which + ": " + name))
                << kind << QString("pb_%1_time_%2").arg(which, dir) << QString(before) << QString(after);
        };
        row("later", "plus", "5000000", "6000000");
        row("earlier", "sub", "5000000", "4000000");
        row("earlier than zero stops at zero", "sub", "400000", "0");
        row("earlier from zero", "sub", "0", "0");
        row("later from text", "plus", "abc", "1000000");
        row("later past 2^32", "plus", "4294967295", "4295967295");
        row("later at the top", "plus", "18446744073709551000", "18446744073709551615");
    }
    void plusAndMinusStepOneSecond()
    {
        QFETCH(QString, kind);
        QFETCH(QString, button);
        QFETCH(QString, before);
        QFETCH(QString, after);
        auto dialog = makeDialog(kind, &script);
        dialog->show();
        const bool start = button.contains("start");
        auto* edit = child<QLineEdit>(dialog.get(), start ? "le_start_time" : "le_end_time");
        auto* other = child<QLineEdit>(dialog.get(), start ? "le_end_time" : "le_start_time");
        edit->setText(before);
        other->setText("777");
        QTest::mouseClick(child<QPushButton>(dialog.get(), qPrintable(button)), Qt::LeftButton);
        QCOMPARE(edit->text(), after);
        QCOMPARE(other->text(), QString("777"));
        QVERIFY(dialog->isVisible());
    }

    // Saving onto a file asks first: agreed, the dialog accepts and says so; declined, it stays
    // open for another name. Anything else there is no file to ask about.
    void savingOntoAFileAsksFirst_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("agree");
        QTest::addColumn<bool>("asked");
        addKinds("nothing there", [](QTestData& row) { row << "new.raw" << true << false; });
        addKinds("a file, agreed", [](QTestData& row) { row << "old.raw" << true << true; });
        addKinds("a file, declined", [](QTestData& row) { row << "old.raw" << false << true; });
        addKinds("a link to a file, agreed", [](QTestData& row) { row << "link.raw" << true << true; });
        addKinds("a folder", [](QTestData& row) { row << "folder" << true << false; });
    }
    void savingOntoAFileAsksFirst()
    {
        QFETCH(QString, kind);
        QFETCH(QString, name);
        QFETCH(bool, agree);
        QFETCH(bool, asked);
        QTemporaryDir scratch;
        const QDir dir(scratch.path());
        QFile old(dir.filePath("old.raw"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.close();
        QVERIFY(QFile::link(old.fileName(), dir.filePath("link.raw")));
        QVERIFY(dir.mkdir("folder"));
        auto dialog = makeDialog(kind, &script);
        dialog->setFilePath(dir.path());
        dialog->setFileName(name);
        dialog->show();
        QSignalSpy accepted(dialog.get(), &QDialog::accepted);

        const QString question = saveAnswering(dialog.get(), agree);
        QCOMPARE(!question.isEmpty(), asked);
        if (asked)
            QVERIFY2(question.contains(QDir::toNativeSeparators(dir.filePath(name))), qPrintable(question));
        QCOMPARE(accepted.count(), agree ? 1 : 0);
        QCOMPARE(dialog->isVisible(), !agree);
        QCOMPARE(dialog->replacesExisting(), asked && agree);
        if (!agree) {
            // Another name saves at once, replacing nothing.
            dialog->setFileName("other.raw");
            QCOMPARE(saveAnswering(dialog.get(), true), QString());
            QCOMPARE(accepted.count(), 1);
            QVERIFY(!dialog->replacesExisting());
        }
    }

    // An export of more frames than a long video holds asks first; declined, the dialog stays.
    void exportOfVeryManyFramesAsksFirst_data()
    {
        QTest::addColumn<quint64>("end");
        QTest::addColumn<bool>("agree");
        QTest::addColumn<bool>("asked");
        // A step of 10 us from 0: 100 000 frames up to 999 990 us, one more at 1 000 000 us.
        QTest::newRow("at the limit") << quint64(999'990) << true << false;
        QTest::newRow("one frame more, agreed") << quint64(1'000'000) << true << true;
        QTest::newRow("one frame more, declined") << quint64(1'000'000) << false << true;
        QTest::newRow("a range past the events") << quint64(50'000'000) << true << true;
    }
    void exportOfVeryManyFramesAsksFirst()
    {
        QFETCH(quint64, end);
        QFETCH(bool, agree);
        QFETCH(bool, asked);
        QTemporaryDir scratch;
        SvExportVideoUI dialog;
        dialog.setFrameStep(10, 0, 2'000'000);
        dialog.setFilePath(scratch.path());
        dialog.setFileName("long.mp4");
        dialog.setStartTime(0);
        dialog.setEndTime(end);
        dialog.show();
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        const QString question = saveAnswering(&dialog, agree);
        QCOMPARE(!question.isEmpty(), asked);
        if (asked)
            QVERIFY2(question.contains(QString::number(std::min<quint64>(end, 2'000'000) / 10 + 1)), qPrintable(question));
        QCOMPARE(accepted.count(), agree ? 1 : 0);
    }
};

QTEST_MAIN(TestRangeDialogs)
#include "tst_rangedialogs.moc"
