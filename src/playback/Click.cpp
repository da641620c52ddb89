#include "playback/Click.h"

#include "song/Profile.h"

namespace cantivo {

ClickSettings ClickSettings::Read(const Profile& profile)
{
    ClickSettings click;
    const std::string section = "ClickOptions";
    click.enabled = profile.GetInt(section, "Enabled", 1) != 0;
    click.whileRecording = profile.GetInt(section, "Record", 1) != 0;
    click.portName = profile.GetString(section, "Port", click.portName);
    click.patch = profile.GetInt(section, "Patch", click.patch);
    click.firstBeat = static_cast<uint32_t>(profile.GetInt(section, "Click1", static_cast<int32_t>(click.firstBeat)));
    click.otherBeats = static_cast<uint32_t>(profile.GetInt(section, "Click2", static_cast<int32_t>(click.otherBeats)));
    click.leadMilliseconds = profile.GetInt(section, "Lead", 0);
    return click;
}

} // namespace cantivo
