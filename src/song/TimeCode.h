#pragma once

#include <cstdint>
#include <string>

namespace cantivo {

class Song;

// Display format codes: 0-3 the SMPTE frame-rate codes (24, 25, 29.97 drop-frame, 30), 4 milliseconds.
enum TimeCodeFormat : int { Frames24 = 0, Frames25 = 1, Frames30Drop = 2, Frames30 = 3, Milliseconds = 4 };

struct TimeCodeFields {
    int32_t hours = 0;
    int32_t minutes = 0;
    int32_t seconds = 0;
    int32_t fourth = 0; // frames, or milliseconds in format 4
};

TimeCodeFields TimeCode(double microseconds, int format);
// The length of one unit of the fourth field (a frame, or a millisecond in format 4), microseconds.
double TimeCodeUnitLength(int format);
double TimeCodeToMicroseconds(const TimeCodeFields& fields, int format);

// The transport display: position "12A.3.045", time "1:02:03.004" or "1:02:03:01", tempo
// "1.000 x 120.0 bpm".
std::string TransportPositionText(const Song& song, int32_t tick);
std::string TransportTimeText(double microseconds, int format);
std::string TransportTempoText(int32_t tempoRatio, uint32_t microsecondsPerQuarter);
// "%d:%02d:%02d.%03d" of a length in microseconds.
std::string LengthText(double microseconds);

} // namespace cantivo
