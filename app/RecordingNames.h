#pragma once
// Names of new camera recordings: the camera's serial and the local time of the start, with a
// counter when the name is taken, so that no recording ever lands on another one's files.
#include <QDateTime>
#include <QString>
#include <QStringList>

// folder/serial_yyyyMMdd_HHmmss, or that with _1, _2, ... appended: the first base for which no
// file folder/base + extension exists, for every extension of the recording (".raw" for an event
// camera; ".raw", ".mp4" and ".json" for the set of a fusion camera).
QString recordingBase(const QString& folder, const QString& serial, const QDateTime& start,
                      const QStringList& extensions);
