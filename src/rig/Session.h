#pragma once

#include "app/IniProfile.h"
#include "app/WorkFolder.h"
#include "platform/SndfileAudio.h"
#include "rig/TerminalPrompter.h"
#include "song/Clock.h"
#include "song/SongContext.h"

#include <iosfwd>
#include <memory>
#include <string>

namespace cantivo {

class Song;
class SynthDatabase;

// The tool's exit codes, a public contract of cantivo-cli.
inline constexpr int ExitSuccess = 0;
inline constexpr int ExitFileUnusable = 1;
inline constexpr int ExitUsage = 2;

// Options that hold for every subcommand.
struct SessionOptions {
    std::string configPath; // --config
    std::string dataDir;    // --data-dir: the folder of the synth database
    bool yes = false;       // --yes
    bool no = false;        // --no
};

// What the subcommands share: the global options and the services a song needs (the settings file, the
// terminal prompter, the clock, the audio backend and the private working folder), made once the
// options are parsed.
class Session {
  public:
    Session(std::ostream& out, std::ostream& err);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Opens the settings file and makes the working folder; call after the command line is parsed.
    void Start();
    // Messages and questions go to `prompter` instead of the terminal (the desktop's message boxes);
    // call before Start. The prompter outlives the session.
    void UsePrompter(Prompter& prompter) { prompter_ = &prompter; }
    Prompter& Prompts() { return *prompter_; }
    // The services for a song; valid after Start.
    const SongContext& Context() const { return context_; }
    // Reads the song at `path`; on failure tells the user why and returns false.
    [[nodiscard]] bool OpenSong(Song& song, const std::string& path);

    // The synth database, opened on first use (a problem with its file is reported then, once).
    SynthDatabase& SynthDb();

    std::ostream& Out() { return out_; }
    std::ostream& Err() { return err_; }

    SessionOptions options;

  private:
    std::ostream& out_;
    std::ostream& err_;
    TerminalPrompter terminal_;
    Prompter* prompter_;
    SteadyClock clock_;
    SndfileAudioFiles audio_;
    std::unique_ptr<IniProfile> profile_;
    std::unique_ptr<WorkFolder> workFolder_;
    std::unique_ptr<SynthDatabase> synthDb_;
    SongContext context_;
};

} // namespace cantivo
