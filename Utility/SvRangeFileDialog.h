#pragma once
// What the cut and the export dialogs share: a frameless modal dialog that collects a time range
// of the open recording (decimal microseconds) and the folder and name of the file to write. It
// writes nothing itself; the caller reads the fields after an accepted exec(). Saving onto an
// existing file asks first whether to replace it; declined, the dialog stays open for another name.
//
// The fields are not validated: text that is not a number reads as 0 and an empty name gives a
// path ending in "/"; the engine that writes the file judges them.
#include <QDialog>
#include <QRect>
#include <QString>

#include <cstdint>

class QAbstractButton;
class QCheckBox;
class QLineEdit;
class SvWindowAgent;

class SvRangeFileDialog : public QDialog {
    Q_OBJECT
public:
    // The plus and minus buttons beside the time fields step by one second.
    static constexpr uint64_t timeStep = 1'000'000;

    void setStartTime(uint64_t start_us);
    void setEndTime(uint64_t end_us);
    void setFilePath(const QString& folder);
    void setFileName(const QString& name);

    uint64_t getStartTime() const;
    uint64_t getEndTime() const;
    // Folder + "/" + file name.
    QString getFilePath() const;
    QString getFileDir() const;
    // Whether the user agreed to replace the file at getFilePath(): only then may it be replaced.
    bool replacesExisting() const { return replaceAgreed; }
    // The region marked on the image: offered as "Only the region", checked. Null: not offered.
    void setRegion(const QRect& region);
    // The region to keep, null for the whole sensor.
    QRect chosenRegion() const;

    // A time field's value: unsigned decimal microseconds, 0 for anything else.
    static uint64_t parseTime(const QString& text);

public slots:
    void on_pb_save_clicked();
    void on_pb_cancel_clicked();
    void on_pb_win_close_clicked();
    void on_pb_select_dir_clicked();
    void on_pb_start_time_plus_clicked();
    void on_pb_start_time_sub_clicked();
    void on_pb_end_time_plus_clicked();
    void on_pb_end_time_sub_clicked();

protected:
    // The widgets of the concrete dialog's form.
    struct Fields {
        QLineEdit* folder = nullptr;
        QLineEdit* fileName = nullptr;
        QLineEdit* startTime = nullptr;
        QLineEdit* endTime = nullptr;
        QWidget* titleName = nullptr;
        QAbstractButton* closeButton = nullptr;
        QCheckBox* onlyRegion = nullptr;
    };

    explicit SvRangeFileDialog(QWidget* parent);
    // Called by the concrete dialog right after building its form.
    void bindFields(const Fields& fields);

    // The folder chooser; an empty result means the user cancelled.
    virtual QString chooseDirectory(const QString& start);
    // Caption of the folder chooser, translated in the concrete dialog's context.
    virtual QString directoryCaption() const = 0;
    // Asked first when save is clicked; false keeps the dialog open.
    virtual bool confirmSave() { return true; }

private:
    void stepTime(QLineEdit* field, bool later);
    void markTimeField(QLineEdit* field);

    Fields fields;
    SvWindowAgent* windowAgent = nullptr;
    bool replaceAgreed = false;
    QRect region;
};
