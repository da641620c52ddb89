#pragma once

#include "song/AudioClip.h"

#include <cstdint>
#include <memory>
#include <string>

namespace cantivo {

// Error codes of the audio backend, as the "Trouble opening audio clip" message prints them.
inline constexpr uint32_t AudioErrorNotFound = 0x80030002;
inline constexpr uint32_t AudioErrorAccessDenied = 0x80030005;
// Any other failure: this base plus libsndfile's own error number.
inline constexpr uint32_t AudioErrorDecoderBase = 0x80044000;

// Audio files through libsndfile: every format it reads (WAV, AIFF, FLAC, Ogg, ...). A clip's wave
// format describes the wave file WriteCopy makes: PCM of the source's sample size (8, 16, 24 or
// 32 bits), IEEE float for float sources, and 16-bit PCM for compressed sources.
class SndfileAudioFiles final : public AudioFiles {
  public:
    std::unique_ptr<AudioFile> Open(const std::string& path, uint32_t& errorCode) override;
};

} // namespace cantivo
