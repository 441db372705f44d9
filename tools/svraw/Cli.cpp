#include "Cli.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace svraw {

namespace {

int outputError = 0; // errno of the first failed write to standard output

// What the signal handler calls; set while a CancelOnSignal lives.
std::atomic<void (*)(void*)> cancelWork{nullptr};
std::atomic<void*> cancelledWork{nullptr};

void noteOutputError(int error)
{
    if (outputError == 0)
        outputError = error != 0 ? error : EIO;
}

} // namespace

Options::Options(int argc, char** argv, const Command& command_) : command(command_)
{
    const auto declared = [](const std::vector<std::string>& names, const std::string& name) {
        for (const std::string& n : names)
            if (n == name)
                return true;
        return false;
    };
    for (int i = 0; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.size() <= 2 || argument.compare(0, 2, "--") != 0) {
            arguments.push_back(argument);
            continue;
        }
        const std::string name = argument.substr(2);
        if (declared(command.flags, name)) {
            values[name] = "";
        } else if (!declared(command.valueOptions, name)) {
            errors.push_back("unknown option " + argument);
        } else if (i + 1 < argc) {
            values[name] = argv[++i];
            allValues.emplace(name, argv[i]);
        } else {
            errors.push_back(argument + " needs a value");
        }
    }
    if (command.morePositional ? arguments.size() < command.positionalCount : arguments.size() != command.positionalCount)
        errors.push_back("expected " + std::string(command.morePositional ? "at least " : "")
                         + std::to_string(command.positionalCount) + " file argument(s), got "
                         + std::to_string(arguments.size()));
}

bool Options::valid() const
{
    for (const std::string& message : errors)
        std::fprintf(stderr, "svraw %s: %s\n", command.name, message.c_str());
    if (!errors.empty())
        std::fprintf(stderr, "usage: svraw %s %s\n", command.name, command.usage);
    return errors.empty();
}

std::vector<std::string> Options::texts(const std::string& name) const
{
    std::vector<std::string> found;
    const auto [first, last] = allValues.equal_range(name);
    for (auto it = first; it != last; ++it)
        found.push_back(it->second);
    return found;
}

bool Options::flag(const std::string& name)
{
    return values.count(name) > 0;
}

std::optional<std::string> Options::text(const std::string& name)
{
    const auto it = values.find(name);
    if (it == values.end())
        return std::nullopt;
    return it->second;
}

std::optional<uint64_t> Options::number(const std::string& name)
{
    const std::optional<std::string> value = text(name);
    if (!value)
        return std::nullopt;
    uint64_t result = 0;
    const char* begin = value->data();
    const char* end = begin + value->size();
    const auto [stop, status] = std::from_chars(begin, end, result);
    if (value->empty() || status != std::errc() || stop != end) {
        std::fprintf(stderr, "svraw %s: --%s wants a non-negative whole number, not '%s'\n", command.name,
                     name.c_str(), value->c_str());
        numbersOk = false;
        return std::nullopt;
    }
    return result;
}

Progress::Progress(std::string label_) : label(std::move(label_)), terminal(::isatty(STDERR_FILENO) == 1) {}

Progress::~Progress()
{
    if (terminal && shown >= 0)
        std::fputc('\n', stderr);
}

void Progress::operator()(double fraction)
{
    // A pipe or a log file gets none: lines of percentages only clutter what is kept.
    const int percent = int(fraction * 100 + 0.5);
    if (!terminal || percent == shown)
        return;
    shown = percent;
    std::fprintf(stderr, "\r%s %3d%%", label.c_str(), percent);
    std::fflush(stderr);
}

CancelOnSignal::CancelOnSignal(void (*cancel)(void*), void* work)
{
    cancelledWork.store(work);
    cancelWork.store(cancel);
    struct sigaction action {};
    action.sa_handler = [](int) {
        if (void (*cancel)(void*) = cancelWork.load())
            cancel(cancelledWork.load());
    };
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previousInterrupt);
    sigaction(SIGTERM, &action, &previousTerminate);
}

CancelOnSignal::~CancelOnSignal()
{
    sigaction(SIGINT, &previousInterrupt, nullptr);
    sigaction(SIGTERM, &previousTerminate, nullptr);
    cancelWork.store(nullptr);
    cancelledWork.store(nullptr);
}

int fail(const std::string& message)
{
    std::fprintf(stderr, "svraw: %s\n", message.c_str());
    return 1;
}

bool print(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    errno = 0;
    const bool ok = std::vfprintf(stdout, format, args) >= 0;
    va_end(args);
    if (!ok)
        noteOutputError(errno);
    return ok;
}

bool writeOutput(const char* data, size_t size)
{
    errno = 0;
    if (size == 0 || std::fwrite(data, 1, size, stdout) == size)
        return true;
    noteOutputError(errno);
    return false;
}

int finishOutput(int status)
{
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        noteOutputError(errno);
    if (outputError == 0)
        return status;
    fail(std::string("cannot write the output: ") + std::strerror(outputError));
    return status == 0 ? 1 : status;
}

sorvane::ExistingFile existingFile(Options& options)
{
    return options.flag("force") ? sorvane::ExistingFile::Replace : sorvane::ExistingFile::Refuse;
}

int writeFailed(const std::string& error, const std::string& fallback)
{
    if (error.empty())
        return fail(fallback);
    if (error.ends_with(sorvane::SafeOutput::kExistsAlready))
        return fail("--force replaces it");
    return 1;
}

} // namespace svraw
