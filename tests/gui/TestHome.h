#pragma once
// A throwaway home for a suite: the folders the program makes by default (Documents/SorvaneData,
// the recordings' index cache) go into it, never into the user's own.
#include <QTemporaryDir>
#include <QtGlobal>

struct TestHome {
    QTemporaryDir dir;

    TestHome()
    {
        qputenv("HOME", dir.path().toLocal8Bit());
        qputenv("XDG_CACHE_HOME", (dir.path() + "/.cache").toLocal8Bit());
    }
};
