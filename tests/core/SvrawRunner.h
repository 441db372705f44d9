#pragma once
// Runs the svraw tool as a user does, through the shell, and keeps its exit status and output.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <vector>

extern char** environ;

namespace svrawtest {

struct Run {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

inline QByteArray quoted(const QString& text)
{
    QByteArray q = text.toLocal8Bit();
    q.replace("'", "'\\''");
    return "'" + q + "'";
}

// stdoutPath: where standard output goes instead of the run's out (e.g. /dev/full).
inline Run svraw(const QStringList& arguments, const QString& folder, const QString& stdoutPath = QString())
{
    QByteArray command = quoted(SVRAW_PATH);
    for (const QString& argument : arguments)
        command += " " + quoted(argument);
    const QString outPath = stdoutPath.isEmpty() ? QDir(folder).filePath("stdout.txt") : stdoutPath;
    const QString errPath = QDir(folder).filePath("stderr.txt");
    command += " > " + quoted(outPath) + " 2> " + quoted(errPath);
    Run run;
    // posix_spawn rather than system(): no fork of this (threaded) test process.
    char shell[] = "/bin/sh";
    char flag[] = "-c";
    char* const argv[] = {shell, flag, command.data(), nullptr};
    pid_t child = 0;
    int raw = -1;
    if (posix_spawn(&child, shell, nullptr, nullptr, argv, environ) == 0)
        waitpid(child, &raw, 0);
    run.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    QFile out(outPath);
    if (stdoutPath.isEmpty() && out.open(QIODevice::ReadOnly))
        run.out = out.readAll();
    QFile err(errPath);
    if (err.open(QIODevice::ReadOnly))
        run.err = err.readAll();
    return run;
}

// Starts svraw without waiting for it, its output thrown away; -1 when it cannot start. (No
// QProcess: its fork of this threaded process is more than the thread sanitizer allows.)
inline pid_t startSvraw(const QStringList& arguments)
{
    std::vector<QByteArray> words{QByteArray(SVRAW_PATH)};
    for (const QString& argument : arguments)
        words.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = -1;
    if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        child = -1;
    posix_spawn_file_actions_destroy(&actions);
    return child;
}

// Sends signal to a run startSvraw began and waits for its end: its exit status, -1 when it was
// killed or could not be waited for.
inline int stopSvraw(pid_t child, int signal)
{
    if (child <= 0 || ::kill(child, signal) != 0)
        return -1;
    int raw = 0;
    if (waitpid(child, &raw, 0) != child)
        return -1;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

} // namespace svrawtest
