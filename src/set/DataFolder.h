#pragma once

#include <string>

namespace cantivo {

// The program's data folder (templates, the demo set, synth definitions): $CANTIVO_DATA_DIR when it is
// set; else beside an installed program (<prefix>/share/cantivo for <prefix>/bin/cantivo-cli); else
// the source tree the program was built from. Empty when none of them exists.
std::string FindDataFolder();
// The same for a given executable path, for tests.
std::string FindDataFolder(const std::string& executable);

} // namespace cantivo
