#pragma once
// Command-line plumbing of svraw: the subcommand table, option parsing and progress output.
#include "SorvaneBase/SafeOutput.h"

#include <signal.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace svraw {

class Options;

struct Command {
    const char* name;
    const char* usage;   // arguments after the name, e.g. "FILE [--start T]"
    const char* summary; // one line
    int (*run)(Options& options);
    size_t positionalCount;
    std::vector<std::string> valueOptions; // "--name value"
    std::vector<std::string> flags;        // "--name"
    bool morePositional = false;           // positionalCount or more arguments
};

// One function per source file, each returning its group of commands; main lists them.
std::vector<Command> fileCommands();
std::vector<Command> cameraCommands();

// Positional arguments and the options a command declares. Parsing problems are collected and
// reported together by valid(); a malformed number is reported when it is read.
class Options {
public:
    Options(int argc, char** argv, const Command& command);
    // False, after printing the problems and the usage on stderr, when the arguments do not fit.
    bool valid() const;

    const std::vector<std::string>& positional() const { return arguments; }
    bool flag(const std::string& name);
    std::optional<std::string> text(const std::string& name);
    // Every value of an option given more than once, in order (the last one is text()).
    std::vector<std::string> texts(const std::string& name) const;
    // A non-negative decimal integer. A malformed one is reported and makes numbersValid false.
    std::optional<uint64_t> number(const std::string& name);
    bool numbersValid() const { return numbersOk; }

private:
    const Command& command;
    std::vector<std::string> arguments;
    std::map<std::string, std::string> values;
    std::multimap<std::string, std::string> allValues;
    std::vector<std::string> errors;
    bool numbersOk = true;
};

// Shows "label NN%" on stderr as a fraction advances, as one line rewritten in place, and only
// when stderr is a terminal.
class Progress {
public:
    explicit Progress(std::string label);
    ~Progress();
    void operator()(double fraction);
    std::function<void(double)> callback() { return [this](double f) { (*this)(f); }; }

private:
    std::string label;
    bool terminal;
    int shown = -1;
};

// While it lives, SIGINT and SIGTERM call work.cancel() instead of killing the process, so the
// cut, export or generation under way stops, its temporary file is removed and nothing
// half-written is left. cancel() must be safe in a signal handler (an atomic store).
class CancelOnSignal {
public:
    template <typename Work>
    explicit CancelOnSignal(Work& work) : CancelOnSignal([](void* w) { static_cast<Work*>(w)->cancel(); }, &work)
    {
    }
    ~CancelOnSignal();
    CancelOnSignal(const CancelOnSignal&) = delete;
    CancelOnSignal& operator=(const CancelOnSignal&) = delete;

private:
    CancelOnSignal(void (*cancel)(void*), void* work);
    struct sigaction previousInterrupt {};
    struct sigaction previousTerminate {};
};

// "svraw: " + message on stderr; returns the exit status for failures.
int fail(const std::string& message);

// Standard output. Every write is checked; the first failure is kept for finishOutput.
bool print(const char* format, ...) __attribute__((format(printf, 1, 2)));
bool writeOutput(const char* data, size_t size);
// Flushes standard output and returns status, or 1 after saying why the output, or some of it,
// could not be written: a full disk must not pass for a complete dump.
int finishOutput(int status);

// What a writing command does with an existing output: replace it only with --force.
sorvane::ExistingFile existingFile(Options& options);
// The exit status of a write that failed with error (already on stderr when not empty; else
// fallback is said), with a hint when only --force was missing.
int writeFailed(const std::string& error, const std::string& fallback);

} // namespace svraw
