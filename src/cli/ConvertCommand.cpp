#include "cli/Commands.h"
#include "rig/Session.h"

#include "song/MidiFileWriter.h"
#include "song/Song.h"

#include <ostream>

namespace cantivo {

CliCommand AddConvertCommand(CLI::App& tool, Session& session)
{
    struct Options {
        std::string in;
        std::string out;
    };
    auto options = std::make_shared<Options>();
    CLI::App* app = tool.add_subcommand(
        "convert", "Read a song and save it as a format-1 MIDI file carrying Cantivo's cues and track settings");
    app->add_option("IN", options->in, "The song to read (.mid, .midi, .smf, .kar, .rmi)")->required();
    app->add_option("OUT", options->out,
                    "The file to write; an existing file is replaced only once the new one is "
                    "complete")
        ->required();
    app->footer("When track offsets would clip values, the save asks whether to apply them: --yes applies them "
                "and writes OUT, --no (or neither flag) leaves OUT unwritten.");
    auto run = [&session, options]() {
        Song song(session.Context());
        if (!session.OpenSong(song, options->in))
            return ExitFileUnusable;
        // A "Save As" to exactly OUT: the tool does not rename the file after the song's title.
        WriteOptions write;
        write.exactPath = true;
        if (!WriteSong(song, options->out, write)) {
            session.Err() << options->out << ": not written.\n";
            return ExitFileUnusable;
        }
        return ExitSuccess;
    };
    return CliCommand{app, run};
}

} // namespace cantivo
