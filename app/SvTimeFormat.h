#pragma once
// Display formats of the play bar and the recording clock.
#include <QString>

#include <cstdint>

// Microseconds as "MM:SS:UUUUUU": minutes not wrapped (at least two digits), seconds of the
// minute, microseconds of the second; 61 500 000 gives "01:01:500000".
QString formatTimestamp(uint64_t timestampUs);

// Seconds as "HH:MM:SS", hours not wrapped; 3 725 gives "01:02:05".
QString formatDuration(uint64_t seconds);
