#include "platform/SndfileAudio.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>
#include <vector>

namespace cantivo {

namespace {

// The wave file a source is copied to: its sample format and the matching 18-byte record.
struct CopyFormat {
    int subtype = SF_FORMAT_PCM_16;
    bool isFloat = false;
    uint16_t bits = 16;
};

CopyFormat CopyFormatFor(int sourceFormat)
{
    switch (sourceFormat & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return {SF_FORMAT_PCM_U8, false, 8}; // 8-bit wave data is unsigned
    case SF_FORMAT_PCM_24:
        return {SF_FORMAT_PCM_24, false, 24};
    case SF_FORMAT_PCM_32:
        return {SF_FORMAT_PCM_32, false, 32};
    case SF_FORMAT_FLOAT:
        return {SF_FORMAT_FLOAT, true, 32};
    case SF_FORMAT_DOUBLE:
        return {SF_FORMAT_DOUBLE, true, 64};
    default:
        return {}; // 16-bit PCM, and the decoded form of every compressed format
    }
}

std::string ErrnoText(int error)
{
    return std::strerror(error);
}

class SndfileAudioFile final : public AudioFile {
  public:
    SndfileAudioFile(SNDFILE* handle, const SF_INFO& info) : handle_(handle), info_(info) {}
    ~SndfileAudioFile() override { sf_close(handle_); }
    SndfileAudioFile(const SndfileAudioFile&) = delete;
    SndfileAudioFile& operator=(const SndfileAudioFile&) = delete;

    uint32_t LengthMs() const override
    {
        // Split so that a huge frame count (some streams claim the largest) cannot overflow.
        const auto frames = static_cast<uint64_t>(info_.frames);
        const auto rate = static_cast<uint64_t>(info_.samplerate);
        const uint64_t ms = frames / rate * 1000u + frames % rate * 1000u / rate;
        return static_cast<uint32_t>(std::min<uint64_t>(ms, std::numeric_limits<uint32_t>::max()));
    }

    WaveFormat Format() const override
    {
        const CopyFormat copy = CopyFormatFor(info_.format);
        WaveFormat format;
        format.formatTag = copy.isFloat ? 3 : 1;
        format.channels = static_cast<uint16_t>(info_.channels);
        format.samplesPerSecond = static_cast<uint32_t>(info_.samplerate);
        format.bitsPerSample = copy.bits;
        format.blockAlign = static_cast<uint16_t>(info_.channels * copy.bits / 8);
        format.averageBytesPerSecond = format.samplesPerSecond * format.blockAlign;
        format.extraSize = 0;
        return format;
    }

    bool WriteCopy(const std::string& path, std::string& error) const override;

  private:
    template <typename Sample> bool CopyFrames(SNDFILE* target, std::string& error) const;

    // The read position is shared; copies from several threads take turns.
    mutable std::mutex mutex_;
    SNDFILE* handle_;
    SF_INFO info_;
};

template <typename Sample> bool SndfileAudioFile::CopyFrames(SNDFILE* target, std::string& error) const
{
    constexpr sf_count_t BlockFrames = 4096;
    std::vector<Sample> block(static_cast<size_t>(BlockFrames) * static_cast<size_t>(info_.channels));
    for (;;) {
        sf_count_t got = 0;
        if constexpr (std::is_same_v<Sample, int>)
            got = sf_readf_int(handle_, block.data(), BlockFrames);
        else
            got = sf_readf_double(handle_, block.data(), BlockFrames);
        if (got <= 0)
            break;
        sf_count_t put = 0;
        if constexpr (std::is_same_v<Sample, int>)
            put = sf_writef_int(target, block.data(), got);
        else
            put = sf_writef_double(target, block.data(), got);
        if (put != got) {
            error = sf_strerror(target);
            return false;
        }
    }
    if (sf_error(handle_) != SF_ERR_NO_ERROR) {
        error = sf_strerror(handle_);
        return false;
    }
    return true;
}

bool SndfileAudioFile::WriteCopy(const std::string& path, std::string& error) const
{
    const CopyFormat copy = CopyFormatFor(info_.format);
    SF_INFO targetInfo{};
    targetInfo.samplerate = info_.samplerate;
    targetInfo.channels = info_.channels;
    targetInfo.format = SF_FORMAT_WAV | copy.subtype;

    // Written beside the target and renamed into place, so a failed copy never leaves a half file.
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        error = "can not create " + path + ": " + ErrnoText(errno);
        return false;
    }
    (void)::fchmod(fd, 0644);
    auto fail = [&](const std::string& why) {
        ::close(fd);
        ::unlink(temporary.c_str());
        error = "can not write " + path + ": " + why;
        return false;
    };
    SNDFILE* target = sf_open_fd(fd, SFM_WRITE, &targetInfo, SF_FALSE);
    if (!target)
        return fail(sf_strerror(nullptr));

    bool copied = false;
    {
        std::lock_guard lock(mutex_);
        if (sf_seek(handle_, 0, SEEK_SET) < 0) {
            sf_close(target);
            return fail("the source can not be read from its start");
        }
        std::string why;
        // Whole integers copy PCM exactly; doubles hold float and double samples exactly.
        copied = copy.isFloat ? CopyFrames<double>(target, why) : CopyFrames<int>(target, why);
        if (!copied) {
            sf_close(target);
            return fail(why);
        }
    }
    if (sf_close(target) != 0)
        return fail("the wave header can not be written");
    if (::fsync(fd) != 0)
        return fail(ErrnoText(errno));
    if (::close(fd) != 0) {
        ::unlink(temporary.c_str());
        error = "can not write " + path + ": " + ErrnoText(errno);
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "can not create " + path + ": " + ErrnoText(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace

std::unique_ptr<AudioFile> SndfileAudioFiles::Open(const std::string& path, uint32_t& errorCode)
{
    errorCode = 0;
    // libsndfile folds every system error into one code; tell the common two apart first.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        errorCode = errno == ENOENT || errno == ENOTDIR ? AudioErrorNotFound
                    : errno == EACCES || errno == EPERM ? AudioErrorAccessDenied
                                                        : AudioErrorDecoderBase + SF_ERR_SYSTEM;
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errorCode = AudioErrorDecoderBase + SF_ERR_UNRECOGNISED_FORMAT;
        return nullptr;
    }
    SF_INFO sfInfo{};
    SNDFILE* handle = sf_open_fd(fd, SFM_READ, &sfInfo, SF_TRUE);
    if (!handle) {
        errorCode = AudioErrorDecoderBase + static_cast<uint32_t>(std::max(1, sf_error(nullptr)));
        return nullptr; // sf_open_fd closed the descriptor
    }
    // Bound what the file claims before anything is computed from it.
    if (sfInfo.samplerate <= 0 || sfInfo.channels <= 0 || sfInfo.channels > 1024 || sfInfo.frames < 0) {
        sf_close(handle);
        errorCode = AudioErrorDecoderBase + SF_ERR_MALFORMED_FILE;
        return nullptr;
    }
    return std::make_unique<SndfileAudioFile>(handle, sfInfo);
}

} // namespace cantivo
