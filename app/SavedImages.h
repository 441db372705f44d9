#pragma once
// Keeps the image on screen as a PNG file in a folder, named from the local time, never over a
// file that is there. Runs off the GUI thread: it writes a file.
#include <QDateTime>
#include <QImage>
#include <QString>

struct SavedImage {
    QString path;  // the file written, empty on failure
    QString error; // why nothing was written
};

SavedImage saveImageAsPng(const QImage& image, const QString& folder, const QDateTime& now);
