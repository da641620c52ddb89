#pragma once

#include "song/Profile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cantivo {

// The update check's settings: off unless the user turns it on, and nowhere to ask until an address is set.
struct UpdateSettings {
    bool checkAtStartUp = false; // "StartupOptions" "CheckForUpdates"
    std::string url;             // "StartupOptions" "UpdateUrl": the version text to fetch
    std::string downloadUrl;     // "StartupOptions" "DownloadUrl": opened in the browser when the user accepts
};
UpdateSettings ReadUpdateSettings(const Profile& profile);

// The most of a version reply that is read; anything past it is ignored.
inline constexpr size_t MaxVersionReplyBytes = 800;

// A version as one number: major × 10000 + minor × 100 + release, so 2.18.4 is 21804. Takes "2.18.4" or
// "2.18" (release 0); nullopt for anything else, or for a minor or release above 99.
std::optional<int32_t> VersionNumber(std::string_view dotted);
// The program's own number, from the version it was built as.
int32_t ProgramVersionNumber();
// "2.18.04" for 21804.
std::string VersionText(int32_t number);

enum class UpdateStatus {
    Available,    // a newer release is published
    UpToDate,     // the published release is this one or older
    NoConnection, // the server could not be reached, did not answer in time, or sent no usable version
};

struct UpdateResult {
    UpdateStatus status = UpdateStatus::NoConnection;
    int32_t published = 0;    // the published number when one was read
    std::string releaseNotes; // the text after the reply's first line
    std::string detail;       // for NoConnection: what went wrong, for a log (never shown as a box)
};

// Reads a reply "Version=21804" (or "Version=2.18.4"), a line break, then the release notes, against
// the program's own number.
UpdateResult ReadVersionReply(std::string_view reply, int32_t ownNumber);

// What to tell the user, if anything. At start-up only a newer release is worth a word; the command
// also confirms an up-to-date program and reports a failed connection. Nothing is said about a failed
// connection at start-up: a machine that is offline on stage must not greet the performer with a box.
// Without anywhere to download from (`canDownload` false) the news ends without "Download now?".
std::optional<std::string> UpdateMessage(const UpdateResult& result, bool startedByCommand, bool canDownload = true);

} // namespace cantivo
