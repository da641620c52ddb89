#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace cantivo {

// The 18-byte wave-format record of a clip's audio.
struct WaveFormat {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t samplesPerSecond = 0;
    uint32_t averageBytesPerSecond = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    uint16_t extraSize = 0;
};

// An open audio file, as the audio backend provides it.
class AudioFile {
public:
    virtual ~AudioFile() = default;
    virtual uint32_t LengthMs() const = 0;
    virtual WaveFormat Format() const = 0;
    // Writes the audio as a new wave file; false (with a reason) when that fails.
    [[nodiscard]] virtual bool WriteCopy(const std::string& path, std::string& error) const = 0;
};

// Opens audio files; the backend lives in platform/ (libsndfile).
class AudioFiles {
public:
    virtual ~AudioFiles() = default;
    // Null with a non-zero error code when the file cannot be opened.
    virtual std::unique_ptr<AudioFile> Open(const std::string& path, uint32_t& errorCode) = 0;
};

// Opens nothing: every clip reports that its file cannot be opened.
class NoAudioFiles final : public AudioFiles {
public:
    std::unique_ptr<AudioFile> Open(const std::string&, uint32_t& errorCode) override
    {
        errorCode = 0x80030002; // "file not found" in the code space the message prints
        return nullptr;
    }
};

// The payload of an audio-clip event.
class AudioClip {
public:
    explicit AudioClip(std::string fileName) : fileName(std::move(fileName)) {}
    ~AudioClip() { Close(); }
    AudioClip(const AudioClip&) = delete;
    AudioClip& operator=(const AudioClip&) = delete;

    // Opens the clip's file through `files`, taking its length and format; false with the error code.
    [[nodiscard]] bool Open(AudioFiles& files, uint32_t& errorCode);
    void Close();
    bool IsOpen() const { return file_ != nullptr; }
    [[nodiscard]] bool WriteCopy(const std::string& path, std::string& error) const;
    // A new clip with the same name, format and length; its file is opened again, not shared.
    std::unique_ptr<AudioClip> Clone() const;

    std::string fileName;
    uint32_t lengthMs = 0;
    bool rewrite = false;
    WaveFormat format;

private:
    std::unique_ptr<AudioFile> file_;
    AudioFiles* opener_ = nullptr;
};

} // namespace cantivo
