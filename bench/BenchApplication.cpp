#include "BenchApplication.h"

#include <QCoreApplication>
#include <QStandardPaths>

#include <memory>

QCoreApplication& benchApplication()
{
    static std::unique_ptr<QCoreApplication> instance = [] {
        QStandardPaths::setTestModeEnabled(true);
        static int argc = 1;
        static char name[] = "sv_bench";
        static char* argv[] = {name, nullptr};
        return std::make_unique<QCoreApplication>(argc, argv);
    }();
    return *instance;
}
