#include "app/ConfigStore.h"
#include "app/InitDialog.h"
#include "app/MainWidget.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QDebug>
#include <QFontDatabase>
#include <QIcon>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QCoreApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings, true);
    // Qt 6 always scales; the attribute is kept so that a Qt 5 build behaves the same.
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QT_WARNING_POP
    QApplication app(argc, argv);
    installQtLogSink();

    const int fontId = QFontDatabase::addApplicationFont(":/font/NotoSansSC-Medium.ttf");
    if (fontId == -1) {
        qDebug() << "Failed to load font!";
    } else {
        const QStringList families = QFontDatabase::applicationFontFamilies(fontId);
        if (!families.isEmpty()) {
            QFont font(families.first());
            font.setHintingPreference(QFont::PreferNoHinting);
            QApplication::setFont(font);
        }
    }

    QCoreApplication::setApplicationName("SorvaneViewer");
    QCoreApplication::setOrganizationName("Sorvane");
    QCoreApplication::setApplicationVersion(InitDialog::Version);

    QCommandLineParser parser;
    parser.setApplicationDescription("Viewer and recorder for event cameras.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument("recording", "A .raw or .dat recording (or the .mp4 of a fusion set) to open.",
                                 "[recording]");
    const QCommandLineOption cameraOption("camera", "Open the attached camera with this serial.", "serial");
    parser.addOption(cameraOption);
    const QCommandLineOption recordingsFolderOption("recordings-folder",
                                                    "Print the folder where Open Recording starts, and exit.");
    parser.addOption(recordingsFolderOption);
    parser.process(app);
    ConfigStore* config = ConfigStore::instance();
    if (parser.isSet(recordingsFolderOption)) {
        QTextStream(stdout) << QDir::toNativeSeparators(config->inputRawFilePath) << Qt::endl;
        return 0;
    }
    loadLanguage(config->language);
    QApplication::setWindowIcon(QIcon(":/img/assets/Sorvane logo_navigate.png"));

    InitDialog splash;
    splash.exec();

    MainWidget window;
    window.show();
    if (parser.isSet(cameraOption))
        window.openCameraBySerial(parser.value(cameraOption));
    else if (!parser.positionalArguments().isEmpty())
        window.openRecordingFile(parser.positionalArguments().first());
    return app.exec();
}
