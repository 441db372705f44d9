#include "BenchApplication.h"

#include <QApplication>
#include <QStandardPaths>

#include <memory>

QCoreApplication& benchApplication()
{
    static std::unique_ptr<QCoreApplication> instance = [] {
        QStandardPaths::setTestModeEnabled(true);
        // Widgets are built without a screen.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "sv_bench";
        static char* argv[] = {name, nullptr};
        return std::unique_ptr<QCoreApplication>(std::make_unique<QApplication>(argc, argv));
    }();
    return *instance;
}
