#include "SorvaneBase/Logger.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace sorvane {

Logger& Logger::Instance()
{
    static Logger logger;
    return logger;
}

void Logger::setSink(Sink newSink)
{
    std::lock_guard lock(sinkMutex);
    sink = std::move(newSink);
}

void Logger::log_(int level, const char* file, int line, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string message(length > 0 ? size_t(length) : 0, '\0');
    if (length > 0)
        std::vsnprintf(message.data(), message.size() + 1, format, args);
    va_end(args);

    const char* slash = std::strrchr(file, '/');
    const char* baseName = slash ? slash + 1 : file;

    std::lock_guard lock(sinkMutex);
    if (sink) {
        sink(level, baseName, line, message);
        return;
    }
    const char* name = level >= Error ? "error" : level >= Warning ? "warning" : "info";
    std::fprintf(stderr, "[%s] %s:%d %s\n", name, baseName, line, message.c_str());
}

} // namespace sorvane
