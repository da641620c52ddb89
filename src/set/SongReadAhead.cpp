#include "set/SongReadAhead.h"

#include "song/OpenSong.h"

#include <system_error>

namespace cantivo {

namespace fs = std::filesystem;

namespace {

// The file's time now; the epoch when it cannot be told.
fs::file_time_type Stamp(const std::string& path)
{
    std::error_code error;
    const fs::file_time_type stamp = fs::last_write_time(path, error);
    return error ? fs::file_time_type{} : stamp;
}

// Reads `path` as the set document would, without asking anything. Nothing for a song with a
// recovery file, an empty file (a new song takes the settings' defaults) or a file that fails.
std::optional<ReadAheadSong> ReadOne(const SongContext& context, const std::string& path)
{
    std::error_code error;
    if (fs::file_size(path, error) == 0 || error || RecoveryQuestion(path))
        return std::nullopt;
    ReadAheadSong ahead;
    ahead.song = std::make_unique<Song>(context);
    const ReadResult result = ReadSongRecovering(*ahead.song, path, PromptAnswer::NotAsked);
    if (!result.ok)
        return std::nullopt;
    ahead.song->SetPathName(path);
    ahead.notices = result.notices;
    ahead.model = BuildUnattachedModel(*ahead.song, ahead.song->GridTicks(0));
    return ahead;
}

} // namespace

SongReadAhead::SongReadAhead(const SongContext& context) : context_(context), worker_([this] { Work(); }) {}

SongReadAhead::~SongReadAhead()
{
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

void SongReadAhead::Request(const std::string& path)
{
    {
        std::lock_guard lock(mutex_);
        if (path == wanted_ || path == reading_ || path == readyPath_)
            return;
        wanted_ = path;
        ready_.reset();
        readyPath_.clear();
    }
    wake_.notify_all();
}

std::optional<ReadAheadSong> SongReadAhead::Take(const std::string& path)
{
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [&] { return reading_ != path; });
    if (readyPath_ != path) {
        if (wanted_ == path)
            wanted_.clear(); // not begun: the caller reads it now, so the worker need not
        return std::nullopt;
    }
    std::optional<ReadAheadSong> taken = std::move(ready_);
    const fs::file_time_type stamp = readyStamp_;
    ready_.reset();
    readyPath_.clear();
    wanted_.clear();
    lock.unlock();
    // Saved by another program meanwhile: what was read is old.
    if (taken && Stamp(path) != stamp)
        taken.reset();
    return taken;
}

int SongReadAhead::ReadsDone() const
{
    std::lock_guard lock(mutex_);
    return readsDone_;
}

void SongReadAhead::Work()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || (!wanted_.empty() && wanted_ != readyPath_); });
        if (quit_)
            return;
        const std::string path = wanted_;
        reading_ = path;
        lock.unlock();
        const fs::file_time_type stamp = Stamp(path);
        std::optional<ReadAheadSong> ahead = ReadOne(context_, path);
        lock.lock();
        reading_.clear();
        ++readsDone_;
        if (wanted_ == path) {
            ready_ = std::move(ahead);
            readyPath_ = path;
            readyStamp_ = stamp;
        }
        // The song is freed outside the lock when it was no longer wanted.
        lock.unlock();
        ahead.reset();
        wake_.notify_all();
        lock.lock();
    }
}

} // namespace cantivo
