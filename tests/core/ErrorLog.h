#pragma once
// Collects the logger's error lines while alive.
#include <SorvaneBase/Logger.h>

#include <string>
#include <vector>

class ErrorLog {
public:
    ErrorLog()
    {
        sorvane::Logger::Instance().setSink([this](int level, const char*, int, const std::string& message) {
            if (level >= sorvane::Logger::Error)
                errors.push_back(message);
        });
    }
    ~ErrorLog() { sorvane::Logger::Instance().setSink({}); }
    std::vector<std::string> errors;
};
