#include "rig/Session.h"

#include "set/DataFolder.h"
#include "song/MidiFileReader.h"
#include "song/OpenSong.h"
#include "song/Song.h"
#include "synthdb/SynthDatabase.h"

#include <filesystem>
#include <ostream>

namespace cantivo {

Session::Session(std::ostream& out, std::ostream& err)
    : out_(out), err_(err), terminal_(err), prompter_(&terminal_), context_(DefaultSongContext())
{
}

Session::~Session() = default;

void Session::Start()
{
    terminal_.SetPreset(options.yes ? PromptAnswer::Yes : options.no ? PromptAnswer::No : PromptAnswer::NotAsked);
    profile_ = std::make_unique<IniProfile>(IniProfile::ResolvePath(options.configPath));
    if (auto warning = profile_->TakeWarning())
        prompter_->Show(*warning, PromptIcon::Warning);
    workFolder_ = std::make_unique<WorkFolder>();
    if (workFolder_->Path().empty())
        prompter_->Show(workFolder_->Error(), PromptIcon::Warning);
    context_ = SongContext{profile_.get(), prompter_, &clock_, &audio_, workFolder_->Path()};
}

SynthDatabase& Session::SynthDb()
{
    if (!synthDb_) {
        std::string warning;
        synthDb_ = SynthDatabase::Open({DefaultSynthDatabasePath(options.dataDir), FindDataFolder()}, warning);
        if (!warning.empty())
            prompter_->Show(warning, PromptIcon::Warning);
    }
    return *synthDb_;
}

bool Session::OpenSong(Song& song, const std::string& path)
{
    if (cantivo::OpenSong(song, path, *prompter_))
        return true;
    // The fixed message says little; name the plain causes first.
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (status.type() == fs::file_type::not_found)
        err_ << path << ": there is no such file.\n";
    else if (status.type() == fs::file_type::directory)
        err_ << path << ": this is a folder, not a song file.\n";
    prompter_->Show(DamagedSongMessage, PromptIcon::Error);
    return false;
}

} // namespace cantivo
