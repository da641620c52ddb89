#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace cantivo {

// A file being written. Nothing is promised about its contents until Commit succeeds.
class FileSink {
  public:
    virtual ~FileSink() = default;
    [[nodiscard]] virtual bool Write(const uint8_t* bytes, size_t size, std::string& error) = 0;
    // Flushes the bytes to stable storage and closes the file.
    [[nodiscard]] virtual bool Commit(std::string& error) = 0;
};

// The file operations a save needs, the moves of its audio clip files included. The real one works on
// the disk; tests inject one that fails after a number of bytes or on a chosen rename or move.
class SaveFiles {
  public:
    virtual ~SaveFiles() = default;
    // Creates a new, empty file of its own name in the folder of `target`; its path goes to `tempPath`.
    [[nodiscard]] virtual std::unique_ptr<FileSink> CreateTemporary(const std::string& target, std::string& tempPath,
                                                                    std::string& error) = 0;
    [[nodiscard]] virtual bool Exists(const std::string& path) = 0;
    // Renames, replacing a file of the new name.
    [[nodiscard]] virtual bool Rename(const std::string& from, const std::string& to, std::string& error) = 0;
    // Renames only when nothing of the new name exists.
    [[nodiscard]] virtual bool RenameNoReplace(const std::string& from, const std::string& to, std::string& error) = 0;
    // Deletes a file; true when it is gone (also when it was never there).
    [[nodiscard]] virtual bool Remove(const std::string& path) = 0;
    // Renames only when nothing of the new name exists; the system's error code when it fails
    // (std::errc::cross_device_link when the names lie on different file systems).
    [[nodiscard]] virtual std::error_code MoveNoReplace(const std::string& from, const std::string& to) = 0;
    // Copies a file to a name where nothing exists yet; the copy is on stable storage when it succeeds.
    [[nodiscard]] virtual std::error_code CopyNoReplace(const std::string& from, const std::string& to) = 0;
};

// The disk through POSIX calls: temporary files are created exclusively, committed with fsync, and a
// rename also syncs its folder so the new name survives a power cut.
class DiskSaveFiles final : public SaveFiles {
  public:
    std::unique_ptr<FileSink> CreateTemporary(const std::string& target, std::string& tempPath,
                                              std::string& error) override;
    bool Exists(const std::string& path) override;
    bool Rename(const std::string& from, const std::string& to, std::string& error) override;
    bool RenameNoReplace(const std::string& from, const std::string& to, std::string& error) override;
    bool Remove(const std::string& path) override;
    std::error_code MoveNoReplace(const std::string& from, const std::string& to) override;
    std::error_code CopyNoReplace(const std::string& from, const std::string& to) override;
};

// Moves a file to a free name, copying it and removing the original when the two lie on different file
// systems (the undo folder may live on another one). On failure the file is where it was.
[[nodiscard]] std::error_code MoveFile(SaveFiles& files, const std::string& from, const std::string& to);

// Puts `bytes` at `target` so that the target is at every moment either the old file or the complete
// new one. With a non-empty `backupPath` the old target becomes the backup (an old backup is replaced).
// On failure the target and the backup are as they were, no temporary file is left, and `error` says
// what went wrong.
[[nodiscard]] bool ReplaceFile(SaveFiles& files, const std::string& target, const std::vector<uint8_t>& bytes,
                               const std::string& backupPath, std::string& error);

} // namespace cantivo
