#pragma once
// Runs the svraw tool as a user does, through the shell, and keeps its exit status and output.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <spawn.h>
#include <sys/wait.h>

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

inline Run svraw(const QStringList& arguments, const QString& folder)
{
    QByteArray command = quoted(SVRAW_PATH);
    for (const QString& argument : arguments)
        command += " " + quoted(argument);
    const QString outPath = QDir(folder).filePath("stdout.txt");
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
    if (out.open(QIODevice::ReadOnly))
        run.out = out.readAll();
    QFile err(errPath);
    if (err.open(QIODevice::ReadOnly))
        run.err = err.readAll();
    return run;
}

} // namespace svrawtest
