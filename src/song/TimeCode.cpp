#include "song/TimeCode.h"

#include "song/Song.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace cantivo {

namespace {

// Drop-frame counts at 29.97 frames per second: a minute keeps 1798 frames except every tenth,
// which keeps all 1800.
constexpr int64_t DropFramesPerMinute = 1798;
constexpr int64_t DropFramesPerTenMinutes = 17982;
constexpr int64_t DropFramesPerHour = 107892;
// Far beyond any song (about 27 million hours); keeps every field within 32 bits.
constexpr double MaxMicroseconds = 1e17;

int ValidFormat(int format)
{
    return format >= Frames24 && format <= Milliseconds ? format : Milliseconds;
}

double UnitLength(int format)
{
    switch (ValidFormat(format)) {
    case Frames24:
        return 1000000.0 / 24.0;
    case Frames25:
        return 40000.0;
    case Frames30Drop:
        return 1000000.0 / 29.97;
    case Frames30:
        return 1000000.0 / 30.0;
    default:
        return 1000.0;
    }
}

TimeCodeFields DropFrameFields(int64_t count)
{
    TimeCodeFields fields;
    fields.hours = static_cast<int32_t>(count / DropFramesPerHour);
    const int64_t inHour = count % DropFramesPerHour;
    const int64_t tenMinuteBlocks = inHour / DropFramesPerTenMinutes;
    const int64_t inBlock = inHour % DropFramesPerTenMinutes;
    // Put back the two labels skipped at the start of each minute that is not a tenth one: 18 per
    // complete block, and 2 for every complete minute after the block's first.
    int64_t labels = inHour + 18 * tenMinuteBlocks;
    if (inBlock >= 2)
        labels += 2 * ((inBlock - 2) / DropFramesPerMinute);
    fields.fourth = static_cast<int32_t>(labels % 30);
    fields.seconds = static_cast<int32_t>((labels / 30) % 60);
    fields.minutes = static_cast<int32_t>(labels / 1800);
    return fields;
}

int64_t DropFrameCount(const TimeCodeFields& fields)
{
    int64_t frames = std::max(0, fields.fourth);
    int64_t seconds = std::max(0, fields.seconds);
    int64_t minutes = std::max(0, fields.minutes);
    int64_t hours = std::max(0, fields.hours);
    seconds += frames / 30;
    frames %= 30;
    minutes += seconds / 60;
    seconds %= 60;
    hours += minutes / 60;
    minutes %= 60;
    // Labels ;00 and ;01 do not exist at the start of a dropped minute: read them as its first frame.
    if (minutes % 10 != 0 && seconds == 0 && frames < 2)
        frames = 2;
    const int64_t totalMinutes = hours * 60 + minutes;
    const int64_t labels = ((hours * 3600 + minutes * 60 + seconds) * 30) + frames;
    return labels - 2 * (totalMinutes - totalMinutes / 10);
}

} // namespace

double TimeCodeUnitLength(int format)
{
    return UnitLength(format);
}

TimeCodeFields TimeCode(double microseconds, int format)
{
    format = ValidFormat(format);
    if (!(microseconds > 0.0)) // negative and NaN count as 0
        microseconds = 0.0;
    microseconds = std::min(microseconds, MaxMicroseconds);
    const double unit = UnitLength(format);
    // The added microsecond keeps a time computed as count × unit from landing just below its count.
    const int64_t count = static_cast<int64_t>(std::trunc((microseconds + 1.0) / unit));
    if (format == Frames30Drop)
        return DropFrameFields(count);

    const int64_t perSecond = static_cast<int64_t>(std::trunc(1000001.0 / unit));
    TimeCodeFields fields;
    fields.hours = static_cast<int32_t>(count / (perSecond * 3600));
    const int64_t inHour = count % (perSecond * 3600);
    fields.minutes = static_cast<int32_t>(inHour / (perSecond * 60));
    const int64_t inMinute = inHour % (perSecond * 60);
    fields.seconds = static_cast<int32_t>(inMinute / perSecond);
    fields.fourth = static_cast<int32_t>(inMinute % perSecond);
    return fields;
}

double TimeCodeToMicroseconds(const TimeCodeFields& fields, int format)
{
    format = ValidFormat(format);
    const double unit = UnitLength(format);
    double microseconds;
    if (format == Frames30Drop)
        microseconds = static_cast<double>(DropFrameCount(fields)) * unit;
    else
        microseconds = fields.fourth * unit + fields.seconds * 1e6 + fields.minutes * 6e7 + fields.hours * 3.6e9;
    return std::max(0.0, microseconds);
}

std::string TransportPositionText(const Song& song, int32_t tick)
{
    const int index = song.FindMeasure(tick);
    if (index < 0)
        return {};
    const Measure& measure = song.measures[index];
    const char letter = static_cast<char>(measure.letter & ~0x20);
    std::string label;
    if (measure.number != 0 || measure.letter == 0)
        label = std::to_string(measure.number);
    if (measure.letter != 0)
        label += letter;
    const int32_t beatLength = std::max<int32_t>(1, Measure::LengthFor(song.timebase, measure.denominator, 1));
    const int64_t offset = int64_t{tick} - measure.start;
    char buffer[80];
    std::snprintf(buffer, sizeof buffer, "%s.%lld.%03lld", label.c_str(),
                  static_cast<long long>(offset / beatLength + 1), static_cast<long long>(offset % beatLength));
    return buffer;
}

std::string TransportTimeText(double microseconds, int format)
{
    format = ValidFormat(format);
    const TimeCodeFields fields = TimeCode(microseconds, format);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format == Milliseconds ? "%d:%02d:%02d.%03d" : "%d:%02d:%02d:%02d",
                  fields.hours, fields.minutes, fields.seconds, fields.fourth);
    return buffer;
}

std::string TransportTempoText(int32_t tempoRatio, uint32_t microsecondsPerQuarter)
{
    const int32_t ratio = std::max(0, tempoRatio);
    // Tenths of beats per minute; a zero tempo never reaches a song, but must not divide by zero here.
    const uint32_t tenths = microsecondsPerQuarter == 0 ? 0 : 600000000u / microsecondsPerQuarter;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%0d.%03d x %3u.%01u bpm", ratio / 100000, (ratio % 100000) / 100, tenths / 10,
                  tenths % 10);
    return buffer;
}

std::string LengthText(double microseconds)
{
    return TransportTimeText(microseconds, Milliseconds);
}

} // namespace cantivo
