#include "BenchApplication.h"

#include <QApplication>
#include <QStandardPaths>

#include <algorithm>
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

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(fraction * double(values.size() - 1) + 0.5));
    return values[index];
}
