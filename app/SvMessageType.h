#pragma once
#include <QMetaType>

// Kind of a status tip shown at the bottom left of the main window.
enum SvMessageType {
    Success = 0,
    Warning = 1,
    Error = 2,
};
Q_DECLARE_METATYPE(SvMessageType)

// Registers SvMessageType (and the 64-bit timestamps) for queued connections. Idempotent.
void registerSvMetaTypes();
