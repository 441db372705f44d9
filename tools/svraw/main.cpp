// svraw: batch work on event recordings. Subcommands come in groups, one source file each.
#include "Cli.h"

#include "SorvaneBase/Logger.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

std::vector<svraw::Command> allCommands()
{
    std::vector<svraw::Command> commands;
    for (auto group : {svraw::fileCommands, svraw::cameraCommands}) {
        auto more = group();
        commands.insert(commands.end(), more.begin(), more.end());
    }
    return commands;
}

void printUsage(const std::vector<svraw::Command>& commands, FILE* to)
{
    std::fprintf(to, "usage: svraw COMMAND ...\n\ncommands:\n");
    for (const svraw::Command& command : commands)
        std::fprintf(to, "  %s %s\n      %s\n", command.name, command.usage, command.summary);
    std::fprintf(to, "\ntimes are microseconds of the recording's clock\n");
}

} // namespace

int main(int argc, char** argv)
{
    // The library's information lines are for the viewer's log; here only its errors matter, and
    // its warnings, which say what it did to the user's files (a leftover temporary removed).
    sorvane::Logger::Instance().setSink([](int level, const char*, int, const std::string& message) {
        if (level >= sorvane::Logger::Warning)
            std::fprintf(stderr, "svraw: %s\n", message.c_str());
    });

    const std::vector<svraw::Command> commands = allCommands();
    if (argc < 2) {
        printUsage(commands, stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "help") == 0) {
        printUsage(commands, stdout);
        return svraw::finishOutput(0);
    }
    for (const svraw::Command& command : commands) {
        if (command.name != std::string(argv[1]))
            continue;
        // Asked for anywhere after the command, whatever else is there.
        const auto help = [](const char* argument) { return std::strcmp(argument, "--help") == 0; };
        if (std::any_of(argv + 2, argv + argc, help)) {
            svraw::print("usage: svraw %s %s\n    %s\n", command.name, command.usage, command.summary);
            return svraw::finishOutput(0);
        }
        svraw::Options options(argc - 2, argv + 2, command);
        if (!options.valid())
            return 2;
        return svraw::finishOutput(command.run(options));
    }
    std::fprintf(stderr, "svraw: unknown command '%s'\n\n", argv[1]);
    printUsage(commands, stderr);
    return 2;
}
