#include "platform/RtMidiBackend.h"

#include "platform/AlsaMessages.h"

#include <jack/jack.h>
#include <rtmidi/RtMidi.h>

#include <iostream>
#include <streambuf>
#include <type_traits>
#include <unistd.h>

namespace cantivo {

namespace {

constexpr const char* ClientName = "Cantivo";

// RtMidi reports through this once a callback is installed, instead of printing and throwing. During
// enumeration the first text is kept for the notice; an opened port reports with no sink (on the play
// or input thread), and then nothing is kept, so nothing allocates or races.
struct ErrorSink {
    bool failed = false;
    std::string text;
};

void OnRtMidiError(RtMidiError::Type, const std::string& text, void* userData)
{
    auto* sink = static_cast<ErrorSink*>(userData);
    if (!sink)
        return;
    if (!sink->failed)
        sink->text = text;
    sink->failed = true;
}

// RtMidi's constructors print warnings to std::cerr before a callback can be installed.
class CerrSilencer {
  public:
    CerrSilencer() : saved_(std::cerr.rdbuf(&discard_)) {}
    ~CerrSilencer() { std::cerr.rdbuf(saved_); }
    CerrSilencer(const CerrSilencer&) = delete;
    CerrSilencer& operator=(const CerrSilencer&) = delete;

  private:
    class Discard final : public std::streambuf {
        int overflow(int c) override { return traits_type::not_eof(c); }
        std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
    };
    Discard discard_;
    std::streambuf* saved_;
};

void IgnoreJackMessage(const char*) {}

// Asked before RtMidi is: RtMidi's JACK side, given no server, prints a warning in its constructor and
// leaks its buffers.
bool JackServerRunning()
{
    jack_set_error_function(IgnoreJackMessage);
    jack_set_info_function(IgnoreJackMessage);
    jack_status_t status{};
    jack_client_t* client = jack_client_open("Cantivo probe", JackNoStartServer, &status);
    if (!client)
        return false;
    jack_client_close(client);
    return true;
}

std::string OneLine(std::string text)
{
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    const size_t first = text.find_first_not_of(' ');
    const size_t last = text.find_last_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// A fresh RtMidi object of one API with the callback installed; null with the reason when the API
// cannot start.
template <typename Port> std::unique_ptr<Port> Create(RtMidi::Api api, ErrorSink* sink, std::string& reason)
{
    try {
        std::unique_ptr<Port> port;
        {
            CerrSilencer silence;
            port = std::make_unique<Port>(api, ClientName);
        }
        port->setErrorCallback(OnRtMidiError, sink);
        return port;
    } catch (const std::exception& error) {
        reason = OneLine(error.what());
    } catch (...) {
        reason = "unknown failure";
    }
    return nullptr;
}

template <typename Port> std::vector<std::string> PortNames(Port& port, ErrorSink& sink)
{
    std::vector<std::string> names;
    try {
        const unsigned count = port.getPortCount();
        for (unsigned i = 0; i < count && !sink.failed; ++i)
            names.push_back(port.getPortName(i));
    } catch (...) {
        sink.failed = true;
    }
    return names;
}

// Opens the port named `name` on its own RtMidi object; null when it does not open. Looked up by name
// again because opening earlier ports may have added ports of our own to the list.
template <typename Port>
std::unique_ptr<Port> OpenByName(RtMidi::Api api, const std::string& name, const char* ourPortName)
{
    std::string reason;
    ErrorSink sink;
    auto port = Create<Port>(api, &sink, reason);
    if (!port)
        return nullptr;
    const std::vector<std::string> names = PortNames(*port, sink);
    for (unsigned i = 0; i < names.size(); ++i) {
        if (names[i] != name)
            continue;
        try {
            if constexpr (std::is_same_v<Port, RtMidiIn>)
                port->ignoreTypes(false, false, false);
            port->openPort(i, ourPortName);
        } catch (...) {
            return nullptr;
        }
        if (!port->isPortOpen() || sink.failed)
            return nullptr;
        port->setErrorCallback(OnRtMidiError, nullptr);
        return port;
    }
    return nullptr;
}

} // namespace

MidiPortList RtMidiBackend::Enumerate(const MicrosecondClock& clock, const std::string& sequencerPath)
{
    SilenceAlsaLibraryMessages();
    MidiPortList list;
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);

    std::string alsaProblem;
    std::string jackProblem;
    bool sequencerMissing = false;
    bool alsaCompiled = false;
    bool jackCompiled = false;
    for (const RtMidi::Api api : apis) {
        std::string* problem = nullptr;
        if (api == RtMidi::LINUX_ALSA) {
            alsaCompiled = true;
            problem = &alsaProblem;
            if (::access(sequencerPath.c_str(), F_OK) != 0) {
                sequencerMissing = true;
                continue;
            }
        } else if (api == RtMidi::UNIX_JACK) {
            jackCompiled = true;
            problem = &jackProblem;
            if (!JackServerRunning()) {
                jackProblem = "JACK server not running";
                continue;
            }
        } else {
            continue;
        }

        // Every name first, then the opening: an opened port of ours is a new port on the other side.
        ErrorSink sink;
        std::string reason;
        std::vector<std::string> outNames;
        std::vector<std::string> inNames;
        if (auto probe = Create<RtMidiOut>(api, &sink, reason))
            outNames = PortNames(*probe, sink);
        if (auto probe = Create<RtMidiIn>(api, &sink, reason))
            inNames = PortNames(*probe, sink);
        if (!reason.empty() || sink.failed) {
            *problem = OneLine(reason.empty() ? sink.text : reason);
            if (outNames.empty() && inNames.empty())
                continue;
        }

        for (const std::string& name : outNames) {
            auto port = OpenByName<RtMidiOut>(api, name, "Cantivo out");
            list.outputs.push_back({name, port ? std::make_unique<RtMidiOutDevice>(name, std::move(port)) : nullptr});
        }
        for (const std::string& name : inNames) {
            auto port = OpenByName<RtMidiIn>(api, name, "Cantivo in");
            list.inputs.push_back(
                {name, port ? std::make_unique<RtMidiInDevice>(name, std::move(port), clock) : nullptr});
        }
    }

    if (!list.outputs.empty() || !list.inputs.empty())
        return list;
    std::string why;
    if (!alsaCompiled)
        why = "This RtMidi has no ALSA support";
    else if (sequencerMissing)
        why = "No ALSA sequencer is available (" + sequencerPath + " is missing)";
    else if (!alsaProblem.empty())
        why = "The ALSA sequencer could not be opened (" + alsaProblem + ")";
    else
        why = "The ALSA sequencer has no MIDI ports";
    if (jackCompiled && jackProblem.empty())
        why += " and JACK has none";
    else if (jackCompiled && jackProblem.find("not running") != std::string::npos)
        why += " and no JACK server is running";
    else if (jackCompiled)
        why += " and JACK could not be asked (" + jackProblem + ")";
    list.notice = why + ", so no MIDI ports are listed; the built-in synth and Capture still work.";
    return list;
}

RtMidiOutDevice::RtMidiOutDevice(std::string name, std::unique_ptr<RtMidiOut> port)
    : name_(std::move(name)), port_(std::move(port))
{
}

RtMidiOutDevice::~RtMidiOutDevice() = default;

void RtMidiOutDevice::SendShort(uint32_t message)
{
    if (!port_)
        return;
    const unsigned char bytes[3] = {static_cast<unsigned char>(message), static_cast<unsigned char>(message >> 8),
                                    static_cast<unsigned char>(message >> 16)};
    try {
        port_->sendMessage(bytes, ShortMessageSize(message));
    } catch (...) {
        // A vanished port (unplugged interface) must not stop the play thread.
    }
}

void RtMidiOutDevice::SendLong(std::span<const uint8_t> bytes)
{
    if (!port_ || bytes.empty())
        return;
    try {
        port_->sendMessage(bytes.data(), bytes.size());
    } catch (...) {
    }
}

RtMidiInDevice::RtMidiInDevice(std::string name, std::unique_ptr<RtMidiIn> port, const MicrosecondClock& clock)
    : name_(std::move(name)), port_(std::move(port)), clock_(clock)
{
    if (!port_)
        return;
    try {
        port_->setCallback(OnMessage, this);
    } catch (...) {
        port_.reset();
    }
}

RtMidiInDevice::~RtMidiInDevice()
{
    Stop();
    if (port_) {
        try {
            port_->cancelCallback();
            port_->closePort();
        } catch (...) {
        }
    }
}

bool RtMidiInDevice::Start(MidiInReceiver& receiver)
{
    if (!port_ || !port_->isPortOpen())
        return false;
    gate_.Open(receiver);
    return true;
}

void RtMidiInDevice::Stop()
{
    gate_.Close();
}

void RtMidiInDevice::OnMessage(double, std::vector<unsigned char>* message, void* self)
{
    if (!message || message->empty())
        return;
    auto* device = static_cast<RtMidiInDevice*>(self);
    device->gate_.Deliver(device->clock_.NowMicroseconds(), std::span<const uint8_t>(message->data(), message->size()));
}

} // namespace cantivo
