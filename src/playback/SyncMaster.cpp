#include "playback/SyncMaster.h"

#include "playback/MidiOutPort.h"
#include "playback/PlaybackModel.h"
#include "playback/PortTable.h"
#include "song/Profile.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace cantivo {

SyncSettings SyncSettings::Read(const Profile& profile)
{
    SyncSettings settings;
    settings.masterSlave = std::clamp(profile.GetInt("SyncOptions", "MasterSlave", 0), 0, 2);
    settings.port = std::clamp(profile.GetInt("SyncOptions", "Port", 0), 0, 16);
    settings.protocol = std::clamp(profile.GetInt("SyncOptions", "Protocol", 0), 0, 1);
    settings.smpte = std::clamp(profile.GetInt("SyncOptions", "SMPTE", 3), 0, 4);
    settings.smoothing = profile.GetInt("SyncOptions", "Smoothing", 1) != 0;
    return settings;
}

void SyncMaster::Send(PortTable& ports, uint32_t message)
{
    if (settings_.port == 0) {
        for (int i = 0; i < ports.OutputCount(); ++i)
            ports.Output(i).SendShort(message);
    } else if (settings_.port - 1 < ports.OutputCount()) {
        ports.Output(settings_.port - 1).SendShort(message);
    }
}

void SyncMaster::SendLong(PortTable& ports, std::span<const uint8_t> bytes)
{
    if (settings_.port == 0) {
        for (int i = 0; i < ports.OutputCount(); ++i)
            ports.Output(i).SendLong(bytes);
    } else if (settings_.port - 1 < ports.OutputCount()) {
        ports.Output(settings_.port - 1).SendLong(bytes);
    }
}

void SyncMaster::Started(int32_t startTick, double songClock)
{
    clockStart_ = startTick;
    clockCount_ = 0;
    timeCodeClock_ = songClock;
    piece_ = 0;
}

double SyncMaster::ClockTime(const PlaybackModel& model) const
{
    const double exact = clockStart_ + static_cast<double>(clockCount_) * model.timebase / 24;
    const auto whole = static_cast<int32_t>(std::floor(exact));
    const double start = model.TickTime(whole);
    return start + (exact - whole) * (model.TickTime(whole + 1) - start);
}

double SyncMaster::NextDue(const PlaybackModel& model) const
{
    if (settings_.MasterClock())
        return ClockTime(model);
    if (settings_.MasterTimeCode())
        return timeCodeClock_;
    return std::numeric_limits<double>::infinity();
}

void SyncMaster::Tick(PortTable& ports, const PlaybackModel& model, double songClock)
{
    // Half a microsecond of slack: a wake-up at a due time rounded to the microsecond sends it then.
    const double reached = songClock + 0.5;
    if (settings_.MasterClock()) {
        while (ClockTime(model) <= reached) {
            Send(ports, 0xF8);
            ++clockCount_;
        }
    } else if (settings_.MasterTimeCode()) {
        const int format = TimeCodeFormat();
        while (timeCodeClock_ <= reached) {
            if (piece_ == 0)
                frame_ = TimeCode(timeCodeClock_ + model.smpteOffset + 1.0, format);
            int value = 0;
            switch (piece_) {
            case 0:
                value = frame_.fourth & 0x0F;
                break;
            case 1:
                value = frame_.fourth >> 4 & 0x0F;
                break;
            case 2:
                value = frame_.seconds & 0x0F;
                break;
            case 3:
                value = frame_.seconds >> 4 & 0x0F;
                break;
            case 4:
                value = frame_.minutes & 0x0F;
                break;
            case 5:
                value = frame_.minutes >> 4 & 0x0F;
                break;
            case 6:
                value = frame_.hours & 0x0F;
                break;
            default:
                value = (frame_.hours >> 4 & 1) + (format << 1);
                break;
            }
            Send(ports, 0xF1 | static_cast<uint32_t>(piece_ * 16 + value) << 8);
            timeCodeClock_ += QuarterFrameLength(format);
            piece_ = (piece_ + 1) % 8;
        }
    }
}

void SyncMaster::Located(PortTable& ports, const PlaybackModel& model, int32_t position, SequencerState state)
{
    if (settings_.MasterClock()) {
        const bool wasStarted = syncStarted_;
        if (syncStarted_) {
            Send(ports, 0xFC);
            syncStarted_ = false;
        }
        const auto sixteenths = static_cast<int32_t>(int64_t{position} * 4 / std::max<int64_t>(model.timebase, 1));
        Send(ports, 0xF2 | static_cast<uint32_t>(sixteenths & 0x7F) << 8 |
                        static_cast<uint32_t>(sixteenths >> 7 & 0x7F) << 16);
        if (wasStarted || state == SequencerState::Starting) {
            Send(ports, 0xFB);
            syncStarted_ = true;
        }
    } else if (settings_.MasterTimeCode()) {
        uint8_t bytes[10];
        const int format = TimeCodeFormat();
        FullFrame(TimeCode(model.TickTime(position) + model.smpteOffset, format), format, bytes);
        SendLong(ports, bytes);
    }
}

void SyncMaster::Stopped(PortTable& ports)
{
    if (settings_.MasterClock() && syncStarted_) {
        Send(ports, 0xFC);
        syncStarted_ = false;
    }
}

void SyncMaster::FullFrame(const TimeCodeFields& fields, int format, uint8_t (&bytes)[10])
{
    const uint8_t frame[10] = {0xF0,
                               0x7F,
                               0x00,
                               0x01,
                               0x01,
                               static_cast<uint8_t>((std::min(format, 3) << 5) + (fields.hours & 31)),
                               static_cast<uint8_t>(fields.minutes & 0x7F),
                               static_cast<uint8_t>(fields.seconds & 0x7F),
                               static_cast<uint8_t>(fields.fourth & 0x7F),
                               0xF7};
    std::copy(std::begin(frame), std::end(frame), bytes);
}

} // namespace cantivo
