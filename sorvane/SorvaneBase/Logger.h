#pragma once
// The SDK's logger. Lines carry a level (2 information, 3 warning, 4 error) and the source
// location. The SDK itself depends on no UI library, so lines go to a replaceable sink: standard
// error by default, the Qt message log once the application installs its sink (see
// installQtLogSink).
#include <functional>
#include <mutex>
#include <string>

namespace sorvane {

class Logger {
public:
    enum Level { Info = 2, Warning = 3, Error = 4 };
    using Sink = std::function<void(int level, const char* file, int line, const std::string& message)>;

    static Logger& Instance();

    void log_(int level, const char* file, int line, const char* format, ...)
        __attribute__((format(printf, 5, 6)));

    // Replaces the sink; an empty sink restores standard error. Safe from any thread.
    void setSink(Sink sink);

private:
    Logger() = default;

    // Guards sink against replacement while a line is being written.
    std::mutex sinkMutex;
    Sink sink;
};

} // namespace sorvane

#define SV_LOG_INFO(...) ::sorvane::Logger::Instance().log_(::sorvane::Logger::Info, __FILE__, __LINE__, __VA_ARGS__)
#define SV_LOG_WARNING(...) ::sorvane::Logger::Instance().log_(::sorvane::Logger::Warning, __FILE__, __LINE__, __VA_ARGS__)
#define SV_LOG_ERROR(...) ::sorvane::Logger::Instance().log_(::sorvane::Logger::Error, __FILE__, __LINE__, __VA_ARGS__)
