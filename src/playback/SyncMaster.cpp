#include "playback/SyncMaster.h"

#include "playback/MidiOutPort.h"
#include "playback/PlaybackModel.h"
#include "playback/PortTable.h"
#include "song/Profile.h"

#include <algorithm>

namespace cantivo {

double QuarterFrameLength(int format)
{
    static constexpr double Frame[] = {1e6 / 24, 1e6 / 25, 1e6 * 1001 / 30000, 1e6 / 30, 1000};
    return Frame[std::clamp(format, 0, 4)] / 4;
}

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
    nextClockTick_ = startTick;
    timeCodeClock_ = songClock;
    piece_ = 0;
}

void SyncMaster::Tick(PortTable& ports, const PlaybackModel& model, int32_t tick, double songClock)
{
    if (settings_.MasterClock()) {
        const int32_t step = std::max(model.timebase / 24, 1);
        while (nextClockTick_ <= tick) {
            Send(ports, 0xF8);
            nextClockTick_ += step;
        }
    } else if (settings_.MasterTimeCode()) {
        while (timeCodeClock_ <= songClock) {
            if (piece_ == 0)
                frame_ = TimeCode(timeCodeClock_ + model.smpteOffset + 1.0, settings_.smpte);
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
                value = (frame_.hours >> 4 & 1) + (std::min(settings_.smpte, 3) << 1);
                break;
            }
            Send(ports, 0xF1 | static_cast<uint32_t>(piece_ * 16 + value) << 8);
            timeCodeClock_ += QuarterFrameLength(settings_.smpte);
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
        const int32_t sixteenths = position / std::max(model.timebase / 4, 1);
        Send(ports, 0xF2 | static_cast<uint32_t>(sixteenths & 0x7F) << 8 |
                        static_cast<uint32_t>(sixteenths >> 7 & 0x7F) << 16);
        if (wasStarted || state == SequencerState::Starting) {
            Send(ports, 0xFB);
            syncStarted_ = true;
        }
    } else if (settings_.MasterTimeCode()) {
        uint8_t bytes[10];
        FullFrame(TimeCode(model.TickTime(position) + model.smpteOffset, settings_.smpte), settings_.smpte, bytes);
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
