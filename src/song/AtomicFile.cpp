#include "song/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace cantivo {

namespace {

std::string SystemError(const char* what, const std::string& path)
{
    return std::string(what) + " " + path + ": " + std::strerror(errno);
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Makes a rename durable: the folder entry is only on disk once the folder itself is synced.
void SyncFolder(const std::string& path)
{
    const int folder = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return;
    ::fsync(folder);
    ::close(folder);
}

class DiskFileSink final : public FileSink {
  public:
    DiskFileSink(int descriptor, std::string path) : descriptor_(descriptor), path_(std::move(path)) {}
    ~DiskFileSink() override
    {
        if (descriptor_ >= 0)
            ::close(descriptor_);
    }

    bool Write(const uint8_t* bytes, size_t size, std::string& error) override
    {
        while (size > 0) {
            const ssize_t written = ::write(descriptor_, bytes, size);
            if (written < 0) {
                if (errno == EINTR)
                    continue;
                error = SystemError("could not write", path_);
                return false;
            }
            bytes += written;
            size -= static_cast<size_t>(written);
        }
        return true;
    }

    bool Commit(std::string& error) override
    {
        const bool synced = ::fsync(descriptor_) == 0;
        if (!synced)
            error = SystemError("could not flush", path_);
        const bool closed = ::close(descriptor_) == 0;
        if (synced && !closed)
            error = SystemError("could not close", path_);
        descriptor_ = -1;
        return synced && closed;
    }

  private:
    int descriptor_;
    std::string path_;
};

} // namespace

std::unique_ptr<FileSink> DiskSaveFiles::CreateTemporary(const std::string& target, std::string& tempPath,
                                                         std::string& error)
{
    const size_t slash = target.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    // The new file takes the old one's permissions, so a save does not widen or narrow who may read it.
    mode_t mode = 0666;
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0) {
        mode = existing.st_mode & 07777;
        // A file the user may not write stays as it is, as writing it in place would have failed.
        if (S_ISREG(existing.st_mode) && ::access(target.c_str(), W_OK) != 0) {
            error = SystemError("may not write", target);
            return nullptr;
        }
    }

    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x~", static_cast<unsigned>(random()));
        const std::string candidate = folder + "." + name + suffix;
        const int descriptor = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (descriptor >= 0) {
            if (mode != 0666)
                ::fchmod(descriptor, mode);
            tempPath = candidate;
            return std::make_unique<DiskFileSink>(descriptor, candidate);
        }
        if (errno != EEXIST) {
            error = SystemError("could not create a file in the folder of", target);
            return nullptr;
        }
    }
    error = "could not find a free temporary name beside " + target;
    return nullptr;
}

bool DiskSaveFiles::Exists(const std::string& path)
{
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

bool DiskSaveFiles::Rename(const std::string& from, const std::string& to, std::string& error)
{
    if (::rename(from.c_str(), to.c_str()) != 0) {
        error = SystemError("could not rename", from) + " (to " + to + ")";
        return false;
    }
    SyncFolder(to);
    return true;
}

bool DiskSaveFiles::RenameNoReplace(const std::string& from, const std::string& to, std::string& error)
{
    if (!MoveNoReplace(from, to))
        return true;
    error = SystemError("could not rename", from) + " (to " + to + ")";
    return false;
}

bool DiskSaveFiles::Remove(const std::string& path)
{
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

std::error_code DiskSaveFiles::MoveNoReplace(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        SyncFolder(to);
        return {};
    }
    // Some file systems cannot refuse a replace by themselves; check first there.
    if (errno == EINVAL || errno == ENOSYS) {
        if (Exists(to)) {
            errno = EEXIST;
        } else if (::rename(from.c_str(), to.c_str()) == 0) {
            SyncFolder(to);
            return {};
        }
    }
    return {errno, std::system_category()};
}

std::error_code DiskSaveFiles::CopyNoReplace(const std::string& from, const std::string& to)
{
    std::error_code error;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::none, error);
    if (error) {
        // A copy cut short (a full disk) must not stay behind under the new name; a file that was
        // there before is not ours to remove.
        if (error != std::errc::file_exists)
            ::unlink(to.c_str());
        return error;
    }
    // The original may be removed next, so the copy must be on the disk first.
    const int copy = ::open(to.c_str(), O_RDONLY | O_CLOEXEC);
    const bool synced = copy >= 0 && ::fsync(copy) == 0;
    if (!synced)
        error = {errno, std::system_category()};
    if (copy >= 0)
        ::close(copy);
    if (!synced) {
        ::unlink(to.c_str());
        return error;
    }
    SyncFolder(to);
    return {};
}

std::error_code MoveFile(SaveFiles& files, const std::string& from, const std::string& to)
{
    const std::error_code moved = files.MoveNoReplace(from, to);
    if (moved != std::errc::cross_device_link)
        return moved;
    if (const std::error_code copied = files.CopyNoReplace(from, to))
        return copied;
    // The copy is complete; an original that cannot be removed only takes space.
    (void)files.Remove(from);
    return {};
}

namespace {

// Where the old backup waits while the new file goes into place: a fresh name beside it.
bool MakeAsideName(SaveFiles& files, const std::string& backupPath, std::string& aside, std::string& error)
{
    std::unique_ptr<FileSink> placeholder = files.CreateTemporary(backupPath, aside, error);
    if (!placeholder)
        return false;
    if (!placeholder->Commit(error)) {
        (void)files.Remove(aside);
        return false;
    }
    return true;
}

} // namespace

bool ReplaceFile(SaveFiles& files, const std::string& target, const std::vector<uint8_t>& bytes,
                 const std::string& backupPath, std::string& error)
{
    std::string tempPath;
    std::unique_ptr<FileSink> sink = files.CreateTemporary(target, tempPath, error);
    if (!sink)
        return false;
    constexpr size_t Piece = 64 * 1024;
    bool written = true;
    for (size_t offset = 0; written && offset < bytes.size(); offset += Piece)
        written = sink->Write(bytes.data() + offset, std::min(Piece, bytes.size() - offset), error);
    written = written && sink->Commit(error);
    sink.reset();
    if (!written) {
        (void)files.Remove(tempPath);
        return false;
    }

    const bool keepBackup = !backupPath.empty() && files.Exists(target);
    std::string aside;
    if (keepBackup && files.Exists(backupPath)) {
        if (!MakeAsideName(files, backupPath, aside, error) || !files.Rename(backupPath, aside, error)) {
            if (!aside.empty())
                (void)files.Remove(aside);
            (void)files.Remove(tempPath);
            return false;
        }
    }
    // Undoes the backup steps taken so far; a step that cannot be undone is added to the message, since
    // the user then has to find the old file under its other name.
    auto restoreBackup = [&](bool targetMoved) {
        std::string undoError;
        if (targetMoved && !files.Rename(backupPath, target, undoError))
            error += "; the previous file is kept as " + backupPath;
        if (!aside.empty() && !files.Rename(aside, backupPath, undoError))
            error += "; the previous backup is kept as " + aside;
        (void)files.Remove(tempPath);
    };
    if (keepBackup && !files.Rename(target, backupPath, error)) {
        restoreBackup(false);
        return false;
    }
    if (!files.Rename(tempPath, target, error)) {
        restoreBackup(keepBackup);
        return false;
    }
    // A leftover temporary name is only clutter: the save itself has succeeded.
    if (!aside.empty())
        (void)files.Remove(aside);
    return true;
}

} // namespace cantivo
