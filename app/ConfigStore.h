#pragma once
// The process-wide store of user settings over config.ini (INI format, group "Setting").
// Users write the public fields and call save(); the destructor saves once more at exit.
// Fields are written and read on the GUI thread. Other threads take what they need as a copy
// made on the GUI thread (the trigger edge when trigger-in is armed), or through eventColors().
#include "SorvaneDriver/Render/EventImage.h"

#include <QColor>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <mutex>

class QSettings;

struct EventColors {
    QColor positive;
    QColor negative;
    QColor background;

    // The same colours for the core's painters.
    sorvane::Palette palette() const;
};

class ConfigStore {
public:
    // Names the application, makes sure the application-data folder exists, creates the store on
    // the first call (thread-safe) and points configDir at that folder on every call.
    static ConfigStore* instance();

    explicit ConfigStore(const QString& configFilePath);
    ~ConfigStore();
    ConfigStore(const ConfigStore&) = delete;
    ConfigStore& operator=(const ConfigStore&) = delete;

    // The colour schemes, in the order the settings offer them.
    static QStringList colorTypes();
    // The camera keeps the seconds before a trigger-in edge in 16 bits.
    static constexpr uint32_t maxTriggerInSeconds = 65535;

    void save();
    void applyColorType();
    // The colours of colorType as last applied; safe to call from any thread.
    EventColors eventColors() const;

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
    // Guards colorsSnapshot: applied on the GUI thread, read by the render threads per frame.
    mutable std::mutex colorsMutex;
    EventColors colorsSnapshot;
};

// Creates folder when missing; true when it exists afterwards.
bool ensureDirectory(const QString& folder);

// Installs the translation for language ("zh" or anything else for English) for the process.
void loadLanguage(const QString& language);

// Routes the camera SDK's log lines into the Qt message log.
void installQtLogSink();
