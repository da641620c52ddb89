#include "playback/MidiOutPort.h"

#include <algorithm>

namespace cantivo {

namespace {

// Registered parameters the port follows, in the order of Channel::parameters.
constexpr std::array<int, 4> FollowedParameters = {0, 1, 2, 5};

int FollowedIndex(int parameter)
{
    const auto found = std::find(FollowedParameters.begin(), FollowedParameters.end(), parameter);
    return found == FollowedParameters.end() ? -1 : static_cast<int>(found - FollowedParameters.begin());
}

uint8_t ControllerDefault(int number)
{
    if (number == 7)
        return 100;
    if (number == 10 || (number >= 71 && number <= 78))
        return 64;
    if (number == 11)
        return 127;
    if (number == 91)
        return 40;
    return 0;
}

uint32_t Pack(int status, int data1, int data2)
{
    return static_cast<uint32_t>(status & 0xFF) | static_cast<uint32_t>(data1 & 0x7F) << 8 |
           static_cast<uint32_t>(data2 & 0x7F) << 16;
}

} // namespace

MidiOutPort::MidiOutPort(std::string uniqueName, MidiOutDevice* device) : name_(std::move(uniqueName)), device_(device)
{
    ClearState();
}

void MidiOutPort::ClearState()
{
    for (Channel& channel : channels_) {
        channel.polyPressure.fill(UnknownByte);
        channel.controllers.fill(UnknownByte);
        channel.bank = -1;
        channel.program = UnknownByte;
        channel.pressure = UnknownByte;
        channel.pitchBend = 0x8080;
        channel.parameters.fill(UnknownParameter);
        channel.lowestNote = 127;
        channel.highestNote = 0;
    }
    held_.fill(0);
    highestHeld_ = -1;
    settings_ = DeviceSettings{};
    for (auto* table : {&settings_.channelPressure, &settings_.polyPressure})
        for (auto& ranges : *table)
            ranges.fill(UnknownByte);
    for (auto& ranges : settings_.controlChange)
        ranges.fill(UnknownByte);
}

void MidiOutPort::Send(uint32_t message)
{
    if (device_)
        device_->SendShort(message & 0xFFFFFF);
}

void MidiOutPort::SendShort(uint32_t message)
{
    Send(message);
}

void MidiOutPort::SendLong(std::span<const uint8_t> bytes)
{
    FollowDeviceSettings(bytes);
    if (device_ && !bytes.empty())
        device_->SendLong(bytes);
}

void MidiOutPort::Controller(int channel, int number, int value)
{
    Send(Pack(0xB0 | (channel & 0x0F), number, value));
    channels_[Index(channel)].controllers[Index(number, 128)] = static_cast<uint8_t>(value & 0x7F);
}

uint32_t MidiOutPort::Parameter(int channel, int parameter) const
{
    const int index = FollowedIndex(parameter);
    return index < 0 ? UnknownParameter : channels_[Index(channel)].parameters[static_cast<size_t>(index)];
}

void MidiOutPort::SendAndHold(uint32_t noteOn, uint8_t tag)
{
    const uint32_t value = (noteOn & 0xFFFFFF) | uint32_t{tag} << 24;
    int slot = 0;
    while (slot <= highestHeld_ && held_[static_cast<size_t>(slot)] != 0)
        ++slot;
    if (slot == HeldNoteSlots) {
        Send(held_[0] & 0xFFFF);
        ++notesStolen_;
        slot = 0;
    }
    held_[static_cast<size_t>(slot)] = value;
    highestHeld_ = std::max(highestHeld_, slot);
    Channel& channel = channels_[Index(static_cast<int>(noteOn & 0x0F))];
    const auto key = static_cast<uint8_t>((noteOn >> 8) & 0x7F);
    channel.lowestNote = std::min(channel.lowestNote, key);
    channel.highestNote = std::max(channel.highestNote, key);
    Send(noteOn);
}

void MidiOutPort::NotePlayed(int channel, int key)
{
    Channel& state = channels_[Index(channel)];
    const auto value = static_cast<uint8_t>(key & 0x7F);
    state.lowestNote = std::min(state.lowestNote, value);
    state.highestNote = std::max(state.highestNote, value);
}

void MidiOutPort::ForgetHeldSlot(int slot)
{
    if (slot < 0 || slot > highestHeld_)
        return;
    held_[static_cast<size_t>(slot)] = 0;
    while (highestHeld_ >= 0 && held_[static_cast<size_t>(highestHeld_)] == 0)
        --highestHeld_;
}

void MidiOutPort::SendAndRelease(uint32_t noteOn)
{
    const uint32_t noteOff = noteOn & 0xFFFF;
    Send(noteOff);
    for (int slot = 0; slot <= highestHeld_; ++slot) {
        uint32_t& held = held_[static_cast<size_t>(slot)];
        if (held != 0 && (held & 0xFFFF) == noteOff) {
            held = 0;
            break;
        }
    }
    while (highestHeld_ >= 0 && held_[static_cast<size_t>(highestHeld_)] == 0)
        --highestHeld_;
}

void MidiOutPort::ReleaseHeldNotes()
{
    for (int channel = 0; channel < 16; ++channel) {
        const uint8_t sustain = channels_[Index(channel)].controllers[64];
        if (sustain != UnknownByte && sustain != 0)
            Controller(channel, 64, 0);
    }
    for (int slot = 0; slot <= highestHeld_; ++slot)
        if (held_[static_cast<size_t>(slot)] != 0)
            Send(held_[static_cast<size_t>(slot)] & 0xFFFF);
    held_.fill(0);
    highestHeld_ = -1;
}

void MidiOutPort::FreeStuckNotes()
{
    for (int channel = 0; channel < 16; ++channel) {
        const Channel& state = channels_[Index(channel)];
        for (int key = state.lowestNote; key <= state.highestNote; ++key)
            Send(Pack(0x90 | channel, key, 0));
    }
}

void MidiOutPort::ResetControllers()
{
    ReleaseHeldNotes();
    for (int channel = 0; channel < 16; ++channel) {
        Channel& state = channels_[Index(channel)];
        for (int number = 0; number <= 95; ++number) {
            if (number == 0 || number == 6 || number == 32 || number == 38)
                continue;
            const uint8_t stored = state.controllers[static_cast<size_t>(number)];
            if (stored != UnknownByte && stored != ControllerDefault(number))
                Controller(channel, number, ControllerDefault(number));
        }
        if (state.pitchBend != 0x8080 && state.pitchBend != 0x4000) {
            Send(Pack(0xE0 | channel, 0x00, 0x40));
            state.pitchBend = 0x4000;
        }
        if (state.pressure != UnknownByte && state.pressure != 0) {
            Send(Pack(0xD0 | channel, 0, 0));
            state.pressure = 0;
        }
        constexpr std::array<int32_t, 4> Defaults = {256, 8192, 8192, 64};
        for (size_t i = 0; i < FollowedParameters.size(); ++i)
            if (state.parameters[i] != UnknownParameter && state.parameters[i] != static_cast<uint32_t>(Defaults[i]))
                SetRegisteredParameter(channel, FollowedParameters[i], Defaults[i]);
    }
}

void MidiOutPort::SetBankAndProgram(int channel, int bank, int program)
{
    ReleaseHeldNotes();
    Controller(channel, 0, bank / 128);
    Controller(channel, 32, bank % 128);
    Send(Pack(0xC0 | (channel & 0x0F), program, 0));
    Channel& state = channels_[Index(channel)];
    state.bank = bank & 0x3FFF;
    state.program = static_cast<uint8_t>(program & 0x7F);
}

void MidiOutPort::SendParameter(int channel, int numberController, int parameter, int32_t value)
{
    const int status = 0xB0 | (channel & 0x0F);
    Send(Pack(status, numberController, parameter / 128));
    Send(Pack(status, numberController - 1, parameter % 128));
    Send(Pack(status, 6, value / 128));
    Send(Pack(status, 38, value % 128));
}

void MidiOutPort::SetRegisteredParameter(int channel, int parameter, int32_t value)
{
    if (value < 0)
        return;
    SendParameter(channel, 101, parameter, value);
    if (const int index = FollowedIndex(parameter); index >= 0)
        channels_[Index(channel)].parameters[static_cast<size_t>(index)] = static_cast<uint32_t>(value & 0x3FFF);
}

void MidiOutPort::SetNonRegisteredParameter(int channel, int parameter, int32_t value)
{
    if (value < 0)
        return;
    SendParameter(channel, 99, parameter, value);
}

void MidiOutPort::SetMasterVolume(int32_t volume)
{
    volume = std::clamp(volume, 0, 16383);
    const uint8_t bytes[] = {
        0xF0, 0x7F, 0x7F, 0x04, 0x01, static_cast<uint8_t>(volume & 0x7F), static_cast<uint8_t>(volume >> 7), 0xF7};
    SendLong(bytes);
}

void MidiOutPort::AuditionPatch(int32_t patch, uint32_t noteOn)
{
    const int channel = static_cast<int>(noteOn & 0x0F);
    const int bank = (patch >> 8) & 0x3FFF;
    Controller(channel, 7, 127);
    Controller(channel, 0, bank / 128);
    Controller(channel, 32, bank % 128);
    Send(Pack(0xC0 | channel, patch & 0x7F, 0));
    Channel& state = channels_[Index(channel)];
    state.bank = bank;
    state.program = static_cast<uint8_t>(patch & 0x7F);
    Send(noteOn);
    Send(noteOn & 0xFFFF);
    NotePlayed(channel, static_cast<int>((noteOn >> 8) & 0x7F));
}

void MidiOutPort::FollowDeviceSettings(std::span<const uint8_t> b)
{
    if (b.size() < 6 || b[0] != 0xF0 || b[1] != 0x7F)
        return;
    const uint8_t sub1 = b[3];
    const uint8_t sub2 = b[4];
    DeviceSettings& s = settings_;
    if (sub1 == 0x04 && (sub2 == 0x01 || sub2 == 0x03 || sub2 == 0x04) && b.size() >= 8) {
        const int32_t value = (b[6] & 0x7F) * 128 + (b[5] & 0x7F);
        (sub2 == 0x01 ? s.masterVolume : sub2 == 0x03 ? s.masterFineTuning : s.masterCoarseTuning) = value;
    } else if (sub1 == 0x04 && sub2 == 0x05 && b.size() >= 13 && b[8] == 0x01) {
        // Global parameter control: the slot path in bytes 8-9, then one parameter and its value.
        const uint8_t parameter = b[10];
        const auto value = static_cast<uint8_t>(b[11] & 0x7F);
        if (b[9] == 0x01) {
            if (parameter == 0) {
                s.reverbType = value;
                static constexpr uint8_t Times[] = {44, 50, 56, 64, 64, 0, 0, 0, 50};
                if (value < sizeof Times && Times[value] != 0)
                    s.reverbTime = Times[value];
            } else if (parameter == 1) {
                s.reverbTime = value;
            }
        } else if (b[9] == 0x02) {
            static constexpr uint8_t Presets[6][3] = {{3, 5, 0},   {9, 19, 5},  {3, 19, 8},
                                                      {9, 16, 16}, {2, 24, 64}, {1, 5, 112}};
            if (parameter == 0) {
                s.chorusType = value;
                s.sendToReverb = 0;
                if (value < 6) {
                    s.modulationRate = Presets[value][0];
                    s.modulationDepth = Presets[value][1];
                    s.feedback = Presets[value][2];
                }
            } else if (parameter <= 4) {
                uint8_t* fields[] = {&s.modulationRate, &s.modulationDepth, &s.feedback, &s.sendToReverb};
                *fields[parameter - 1] = value;
            }
        }
    } else if (sub1 == 0x09 && sub2 >= 0x01 && sub2 <= 0x03) {
        const size_t channel = b[5] & 0x0F;
        size_t at = 6;
        uint8_t* ranges = nullptr;
        size_t offset = 0;
        if (sub2 == 0x03) {
            if (b.size() <= at || b[at] == 0xF7)
                return;
            s.controlChange[channel][0] = b[at++] & 0x7F;
            ranges = s.controlChange[channel].data();
            offset = 1;
        } else {
            ranges = (sub2 == 0x01 ? s.channelPressure : s.polyPressure)[channel].data();
        }
        for (; at + 1 < b.size() && b[at] != 0xF7 && b[at + 1] != 0xF7; at += 2)
            if (b[at] < 6)
                ranges[offset + b[at]] = b[at + 1] & 0x7F;
    }
}

std::optional<std::vector<uint8_t>> ParseResetSysex(std::string_view text)
{
    // Line breaks separate tokens like blanks, so a text typed over several lines still reads.
    std::vector<uint8_t> bytes;
    std::vector<std::string_view> tokens;
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\n' || text[at] == '\r'))
            ++at;
        const size_t start = at;
        while (at < text.size() && text[at] != ' ' && text[at] != '\n' && text[at] != '\r')
            ++at;
        if (at > start)
            tokens.push_back(text.substr(start, at - start));
    }
    static constexpr std::string_view Digits = "0123456789ABCDEF";
    for (size_t i = 0; i < tokens.size(); ++i) {
        const std::string_view token = tokens[i];
        if (token.size() != 2 || Digits.find(token[0]) == std::string_view::npos ||
            Digits.find(token[1]) == std::string_view::npos)
            return std::nullopt;
        const auto value = static_cast<uint8_t>(Digits.find(token[0]) * 16 + Digits.find(token[1]));
        if (value > 127 && !(value == 0xF0 && i == 0) && !(value == 0xF7 && i + 1 == tokens.size()))
            return std::nullopt;
        bytes.push_back(value);
    }
    if (bytes.empty())
        return std::nullopt;
    return bytes;
}

} // namespace cantivo
