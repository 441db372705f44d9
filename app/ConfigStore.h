#pragma once
// The process-wide store of user settings over config.ini (INI format, group "Setting").
// Users write the public fields and call save(); the destructor saves once more at exit.
// Fields are not locked: they are written on the GUI thread and read by the processors and
// camera callbacks, as the settings dialog only changes them between frames.
#include <QColor>
#include <QString>

#include <cstdint>
#include <memory>

class QSettings;

class ConfigStore {
public:
    // Names the application, makes sure the application-data folder exists, creates the store on
    // the first call (thread-safe) and points configDir at that folder on every call.
    static ConfigStore* instance();

    explicit ConfigStore(const QString& configFilePath);
    ~ConfigStore();
    ConfigStore(const ConfigStore&) = delete;
    ConfigStore& operator=(const ConfigStore&) = delete;

    void save();
    void applyColorType();

    QString configDir;
    QString outputRawFilePath;
    QString inputRawFilePath;
    QString videoSavePath;
    QString language;
    bool triggerInRecEnable = false;
    QString triggerInRecEdgeType;
    uint32_t beforeTriggerInSaveTime = 0;
    uint32_t afterTriggerInSaveTime = 0;
    QString colorType;
    QColor positiveColor;
    QColor negativeColor;
    QColor backgroundColor;

private:
    void load();

    std::unique_ptr<QSettings> settings;
};

// Creates folder when missing; true when it exists afterwards.
bool ensureDirectory(const QString& folder);

// Installs the translation for language ("zh" or anything else for English) for the process.
void loadLanguage(const QString& language);

// Routes the camera SDK's log lines into the Qt message log.
void installQtLogSink();
