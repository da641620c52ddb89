#pragma once

#include <string>

namespace cantivo {

// Moves a file or a folder to the user's trash as the freedesktop.org trash specification lays out
// ($XDG_DATA_HOME/Trash, else ~/.local/share/Trash: the item under "files", its ".trashinfo" under
// "info"), so the desktop's trash can restore it. False with the reason when it cannot.
[[nodiscard]] bool MoveToTrash(const std::string& path, std::string& error);

} // namespace cantivo
