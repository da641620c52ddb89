#pragma once

#include <string>

namespace cantivo {

// The process's private working folder for audio that undo steps hold: "<tmp>/cantivo-XXXXXX/undoredo.wav",
// made with mkdtemp so no other user can guess or pre-create it (a fixed name in a shared /tmp is
// unsafe). The folder and everything in it are removed when the object goes.
class WorkFolder {
  public:
    WorkFolder();
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    // The "undoredo.wav" folder; empty when it could not be made (then Error() says why).
    const std::string& Path() const { return path_; }
    const std::string& Error() const { return error_; }

  private:
    std::string root_; // the mkdtemp folder that holds "undoredo.wav"
    std::string path_;
    std::string error_;
};

} // namespace cantivo
