#pragma once

#include "playback/PlaybackModel.h"
#include "song/MidiFileReader.h"
#include "song/Song.h"
#include "song/SongContext.h"

#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace cantivo {

// A song read ahead of its turn: the song, its playback model without ports, and what the reader had
// to say, which the UI shows when the song is taken.
struct ReadAheadSong {
    std::unique_ptr<Song> song;
    std::unique_ptr<PlaybackModel> model;
    std::vector<ReadNotice> notices;
};

// Reads the next song of a set on a worker thread while the current one plays, so that a song change
// costs no file reading. One request at a time; a new one replaces what was asked before. A song with
// a recovery file is left alone: its question belongs to the UI.
class SongReadAhead {
  public:
    explicit SongReadAhead(const SongContext& context);
    ~SongReadAhead();
    SongReadAhead(const SongReadAhead&) = delete;
    SongReadAhead& operator=(const SongReadAhead&) = delete;

    // Asks for `path` to be read; nothing happens if it is being read or is ready.
    void Request(const std::string& path);
    // The song read for `path`: waits when that very read is under way, null when it was not asked,
    // failed, was skipped or the file changed since.
    std::optional<ReadAheadSong> Take(const std::string& path);
    // Reads completed, for the tests and the benchmark.
    int ReadsDone() const;

  private:
    void Work();

    SongContext context_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::string wanted_;  // the path asked for
    std::string reading_; // the path the worker is reading now
    std::string readyPath_;
    std::optional<ReadAheadSong> ready_;
    std::filesystem::file_time_type readyStamp_{};
    int readsDone_ = 0;
    bool quit_ = false;
    std::thread worker_; // last: it starts once the rest is made
};

} // namespace cantivo
