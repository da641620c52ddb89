#pragma once

#include "playback/MicrosecondClock.h"
#include "playback/MidiOutDevice.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace cantivo {

// The "Capture" log: every message a line of microseconds since the log started, a tab, the logical
// port, a tab, the bytes as upper-case hex separated by single blanks ("1002000\t0\t90 3C 64"). Lines
// starting with '#' are comments. Written from the play thread only; lines go to a large buffer, so a
// message costs no system call until the buffer is full.
class CaptureLog {
  public:
    // Creates (or empties) the file at `path`; null with the reason in `error` when it cannot.
    static std::unique_ptr<CaptureLog> Open(const std::string& path, const MicrosecondClock& clock, std::string& error);
    ~CaptureLog();
    CaptureLog(const CaptureLog&) = delete;
    CaptureLog& operator=(const CaptureLog&) = delete;

    void RecordShort(int port, uint32_t message);
    void RecordLong(int port, std::span<const uint8_t> bytes);
    // A comment line; a line break inside the text starts another comment line.
    void Comment(std::string_view text);
    // Writes out what is buffered and closes the file; false with the reason when the log is incomplete
    // on disk (a full disk, say). Later records are dropped.
    [[nodiscard]] bool Close(std::string& error);

  private:
    CaptureLog(std::FILE* file, const MicrosecondClock& clock, std::string path);
    void Record(int port, const uint8_t* bytes, size_t count);

    std::FILE* file_;
    const MicrosecondClock& clock_;
    const int64_t start_;
    const std::string path_;
    bool failed_ = false;
    std::unique_ptr<char[]> buffer_;
};

// An output device that only logs: `--port Capture`, and the copy `--capture` adds beside the others.
class CaptureDevice final : public MidiOutDevice {
  public:
    CaptureDevice(CaptureLog& log, int logicalPort) : log_(log), port_(logicalPort) {}
    std::string Name() const override { return "Capture"; }
    void SendShort(uint32_t message) override { log_.RecordShort(port_, message); }
    void SendLong(std::span<const uint8_t> bytes) override { log_.RecordLong(port_, bytes); }

  private:
    CaptureLog& log_;
    const int port_;
};

// Another device with a copy of everything it is sent in the log: `--capture` beside a synth or a port.
class CaptureTee final : public MidiOutDevice {
  public:
    CaptureTee(std::unique_ptr<MidiOutDevice> device, CaptureLog& log, int logicalPort)
        : device_(std::move(device)), log_(log), port_(logicalPort)
    {
    }
    std::string Name() const override { return device_->Name(); }
    void SendShort(uint32_t message) override
    {
        log_.RecordShort(port_, message);
        device_->SendShort(message);
    }
    void SendLong(std::span<const uint8_t> bytes) override
    {
        log_.RecordLong(port_, bytes);
        device_->SendLong(bytes);
    }
    MidiOutDevice& Inner() { return *device_; }

  private:
    std::unique_ptr<MidiOutDevice> device_;
    CaptureLog& log_;
    const int port_;
};

} // namespace cantivo
