#include "song/AudioClip.h"

namespace cantivo {

bool AudioClip::Open(AudioFiles& files, uint32_t& errorCode)
{
    Close();
    errorCode = 0;
    opener_ = &files;
    file_ = files.Open(fileName, errorCode);
    if (!file_) {
        if (errorCode == 0)
            errorCode = 0x80004005; // unspecified failure
        return false;
    }
    lengthMs = file_->LengthMs();
    format = file_->Format();
    return true;
}

void AudioClip::Close()
{
    file_.reset();
}

bool AudioClip::WriteCopy(const std::string& path, std::string& error) const
{
    if (!file_) {
        error = "the clip's audio file " + fileName + " is not open";
        return false;
    }
    return file_->WriteCopy(path, error);
}

std::unique_ptr<AudioClip> AudioClip::Clone() const
{
    auto copy = std::make_unique<AudioClip>(fileName);
    copy->lengthMs = lengthMs;
    copy->rewrite = rewrite;
    copy->format = format;
    copy->opener_ = opener_;
    if (opener_ && file_) {
        uint32_t errorCode = 0;
        copy->file_ = opener_->Open(fileName, errorCode);
    }
    return copy;
}

} // namespace cantivo
