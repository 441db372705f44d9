#include "app/ConfigStore.h"

#include "SorvaneDriver/Render/EventImage.h"
#include "app/SvMessageType.h"

#include <SorvaneBase/Logger.h>

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QLibraryInfo>
#include <QTranslator>

#include <algorithm>
#include <mutex>

namespace {

const char* const keyOutputRawFilePath = "Setting/output_raw_file_path";
const char* const keyInputRawFilePath = "Setting/input_raw_file_path";
const char* const keyLanguage = "Setting/language";
const char* const keyVideoSavePath = "Setting/video_save_path";
const char* const keyTriggerInRecEnable = "Setting/dvs_trigger_in_rec_enable";
const char* const keyTriggerInRecEdgeType = "Setting/dvs_trigger_in_rec_edge_type";
const char* const keyBeforeTriggerInSaveTime = "Setting/dvs_before_tirgger_in_save_time";
const char* const keyAfterTriggerInSaveTime = "Setting/dvs_after_tirgger_in_save_time";
const char* const keyColorType = "Setting/dvs_color_type";

QString documentsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

QString applicationDataFolder()
{
    QCoreApplication::setApplicationName("SorvaneViewer");
    QCoreApplication::setOrganizationName("Sorvane");
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

enum class MkdirFailure { Silent, Logged };

// A stored folder that still exists is kept; anything else becomes Documents/SorvaneData.
// Returns false when there is no Documents folder, which ends loading.
bool loadFolder(QSettings& settings, const char* key, QString& field, MkdirFailure onFailure)
{
    field = settings.value(key).toString();
    if (!field.isEmpty() && QDir(field).exists())
        return true;
    const QString documents = documentsFolder();
    if (documents.isEmpty())
        return false;
    field = documents + "/SorvaneData";
    // Documents itself may be missing on a fresh account.
    if (!ensureDirectory(field) && onFailure == MkdirFailure::Logged)
        qDebug() << "Create raw file path failed.";
    return true;
}

} // namespace

void registerSvMetaTypes()
{
    qRegisterMetaType<SvMessageType>("SvMessageType");
    qRegisterMetaType<uint64_t>("uint64_t");
}

bool ensureDirectory(const QString& folder)
{
    QDir dir(folder);
    if (!dir.exists())
        dir.mkpath(folder);
    return dir.exists();
}

ConfigStore* ConfigStore::instance()
{
    const QString folder = applicationDataFolder();
    ensureDirectory(folder);
    static std::once_flag created;
    static std::unique_ptr<ConfigStore> store;
    std::call_once(created, [&] { store = std::make_unique<ConfigStore>(folder + "/config.ini"); });
    store->configDir = folder;
    return store.get();
}

ConfigStore::ConfigStore(const QString& configFilePath)
    : settings(std::make_unique<QSettings>(configFilePath, QSettings::IniFormat))
{
    registerSvMetaTypes();
    load();
}

ConfigStore::~ConfigStore()
{
    save();
}

void ConfigStore::load()
{
    QSettings& s = *settings;
    if (!loadFolder(s, keyOutputRawFilePath, outputRawFilePath, MkdirFailure::Silent))
        return;
    if (!loadFolder(s, keyInputRawFilePath, inputRawFilePath, MkdirFailure::Logged)) {
        qWarning() << "Unable to get documents location.";
        return;
    }
    language = s.value(keyLanguage).toString();
    if (language != "en" && language != "zh")
        language = "en";
    if (!loadFolder(s, keyVideoSavePath, videoSavePath, MkdirFailure::Logged))
        return;

    if (s.contains(keyTriggerInRecEnable)) {
        triggerInRecEnable = s.value(keyTriggerInRecEnable).toBool();
        triggerInRecEdgeType = s.value(keyTriggerInRecEdgeType).toString();
        beforeTriggerInSaveTime = std::min(s.value(keyBeforeTriggerInSaveTime).toUInt(), maxTriggerInSeconds);
        afterTriggerInSaveTime = std::min(s.value(keyAfterTriggerInSaveTime).toUInt(), maxTriggerInSeconds);
    } else {
        triggerInRecEnable = false;
        triggerInRecEdgeType = "Rising Edge";
        beforeTriggerInSaveTime = 0;
        afterTriggerInSaveTime = 0;
    }

    colorType = s.value(keyColorType).toString();
    if (!colorTypes().contains(colorType))
        colorType = "Gray";
    applyColorType();
}

QStringList ConfigStore::colorTypes()
{
    QStringList names;
    for (const sorvane::Palette& palette : sorvane::palettes())
        names << palette.name;
    return names;
}

void ConfigStore::applyColorType()
{
    const sorvane::Palette* palette = sorvane::paletteNamed(colorType.toStdString());
    if (!palette)
        return;
    const auto toColor = [](sorvane::Rgb rgb) { return QColor(rgb.r, rgb.g, rgb.b); };
    positiveColor = toColor(palette->positive);
    negativeColor = toColor(palette->negative);
    backgroundColor = toColor(palette->background);
    std::lock_guard lock(colorsMutex);
    colorsSnapshot = {positiveColor, negativeColor, backgroundColor};
}

sorvane::Palette EventColors::palette() const
{
    const auto rgb = [](const QColor& colour) {
        const QRgb value = colour.rgb();
        return sorvane::Rgb{uint8_t(qRed(value)), uint8_t(qGreen(value)), uint8_t(qBlue(value))};
    };
    return {"", rgb(positive), rgb(negative), rgb(background)};
}

EventColors ConfigStore::eventColors() const
{
    std::lock_guard lock(colorsMutex);
    return colorsSnapshot;
}

void ConfigStore::save()
{
    applyColorType();
    QSettings& s = *settings;
    s.setValue(keyOutputRawFilePath, outputRawFilePath);
    s.setValue(keyInputRawFilePath, inputRawFilePath);
    s.setValue(keyLanguage, language);
    s.setValue(keyVideoSavePath, videoSavePath);
    s.setValue(keyTriggerInRecEnable, triggerInRecEnable);
    s.setValue(keyTriggerInRecEdgeType, triggerInRecEdgeType);
    s.setValue(keyBeforeTriggerInSaveTime, beforeTriggerInSaveTime);
    s.setValue(keyAfterTriggerInSaveTime, afterTriggerInSaveTime);
    s.setValue(keyColorType, colorType);
    s.sync();
    qDebug() << "Write to config file.";
}

void loadLanguage(const QString& language)
{
    // Both live for the whole process: an installed translator must outlive every tr() call.
    static QTranslator* translator = new QTranslator(QCoreApplication::instance());
    static QTranslator* qtTranslator = new QTranslator(QCoreApplication::instance());
    const QString catalogue = language == "zh" ? ":/app_zh.qm" : ":/app_en.qm";
    if (!translator->load(catalogue)) {
        qDebug() << "Load language failed.";
        return;
    }
    if (!QCoreApplication::installTranslator(translator))
        qDebug() << "install translator failed.";
    // Qt's own texts (file dialogs, standard buttons) come from Qt's catalogue for the language.
    if (language == "zh" && qtTranslator->load("qtbase_zh_CN", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qtTranslator);
    else
        QCoreApplication::removeTranslator(qtTranslator);
}

void installQtLogSink()
{
    sorvane::Logger::Instance().setSink([](int level, const char* file, int line, const std::string& message) {
        const QString text = QString("%1:%2 %3").arg(file).arg(line).arg(QString::fromStdString(message));
        if (level >= sorvane::Logger::Warning)
            qWarning().noquote() << text;
        else
            qInfo().noquote() << text;
    });
}
