#include "app/IniProfile.h"

#include <QByteArray>
#include <QLockFile>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cantivo {

namespace {

// A settings file is a few kilobytes; anything far larger is not one of ours.
constexpr off_t MaxFileSize = 16 * 1024 * 1024;

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return true;
}

std::string Utf8(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

QByteArray Bytes(const std::string& data)
{
    return QByteArray(data.data(), static_cast<qsizetype>(data.size()));
}

bool IsUtf8(const std::string& text)
{
    return Utf8(QString::fromUtf8(Bytes(text))) == text;
}

// Text QSettings writes and reads back unchanged; it drops DEL and other control bytes, and a
// string that is not UTF-8 would not survive the trip through QString.
bool IsPlainText(const std::string& text)
{
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t' && c != '\n' && c != '\r') || byte == 0x7F)
            return false;
    }
    return IsUtf8(text);
}

// A name as a QSettings key part: '/' separates groups, '\' turns into '/' in the file, '%' is the
// escape itself, and an empty part is dropped by QSettings.
QString EncodeName(const std::string& name)
{
    if (name.empty())
        return QStringLiteral("%");
    const bool utf8 = IsUtf8(name);
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || c == '%' || (byte >= 0x80 && !utf8)) {
            out += '%';
            out += Digits[byte >> 4];
            out += Digits[byte & 15];
        } else {
            out += c;
        }
    }
    return QString::fromUtf8(Bytes(out));
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A '%' not followed by two hex digits (typed by hand) stands for itself.
std::string DecodeName(const QString& key)
{
    const std::string text = Utf8(key);
    if (text == "%")
        return {};
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The stored spelling of `name` among `candidates`: the same spelling if there is one, else the first
// that matches without regard to case.
std::optional<QString> StoredSpelling(const QStringList& candidates, const std::string& name)
{
    std::optional<QString> found;
    for (const QString& candidate : candidates) {
        const std::string decoded = DecodeName(candidate);
        if (decoded == name)
            return candidate;
        if (!found && SameName(decoded, name))
            found = candidate;
    }
    return found;
}

QStringList ChildrenOf(QSettings& settings, const QString& group, bool groups)
{
    settings.beginGroup(group);
    QStringList children = groups ? settings.childGroups() : settings.childKeys();
    settings.endGroup();
    return children;
}

// The full QSettings key of a path of names (groups, then a value unless `allGroups`); with
// `existingOnly`, nothing when a part is not stored yet.
std::optional<QString> KeyOf(QSettings& settings, const std::vector<std::string>& names, bool existingOnly,
                             bool allGroups = false)
{
    QString key;
    for (size_t i = 0; i < names.size(); ++i) {
        const bool group = allGroups || i + 1 < names.size();
        std::optional<QString> part = StoredSpelling(ChildrenOf(settings, key, group), names[i]);
        if (!part) {
            if (existingOnly)
                return std::nullopt;
            part = EncodeName(names[i]);
        }
        key = key.isEmpty() ? *part : key + u'/' + *part;
    }
    return key;
}

std::optional<int32_t> ParseInt(const std::string& text)
{
    // Accept the range of a registry DWORD too, so a hand-typed 4294967295 reads as -1.
    int64_t number = 0;
    const char* end = text.data() + text.size();
    const bool plus = text.starts_with('+') && !text.starts_with("+-");
    const auto [stop, error] = std::from_chars(text.data() + (plus ? 1 : 0), end, number);
    if (error != std::errc() || stop != end || number < INT32_MIN || number > UINT32_MAX)
        return std::nullopt;
    return static_cast<int32_t>(static_cast<uint32_t>(number));
}

std::string ErrnoText(int error)
{
    return std::strerror(error);
}

// QSettings accepts nearly anything, so check what it would silently skip or misread: every line
// is blank, a comment, a "[section]", a "name=value", or the continuation of a line ending in '\'.
bool LinesAreWellFormed(const std::string& text, int& badLine)
{
    std::string_view rest(text);
    if (rest.starts_with("\xEF\xBB\xBF"))
        rest.remove_prefix(3);
    bool continued = false;
    badLine = 0;
    while (!rest.empty()) {
        const size_t newline = rest.find('\n');
        std::string_view line = rest.substr(0, newline);
        rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);
        ++badLine;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        const bool wasContinued = continued;
        continued = !line.empty() && line.back() == '\\';
        if (wasContinued || line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[' ? line.back() != ']' || line.size() < 2 : line.find('=') == std::string_view::npos)
            return false;
    }
    return true;
}

// A value in the form it is kept in, so that what was set and what was read from the file compare.
QVariant Normalized(const QVariant& value)
{
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value;
}

// Whether the file now on disk holds exactly what `settings` believes it wrote. QSettings does not
// notice a short write (a full disk) and would replace the file with a cut-off one, so it is read
// back through a scratch copy (a store on the same path would only see the cache).
bool FileHoldsSettings(QSettings& settings, const std::string& path, std::string& problem)
{
    namespace fs = std::filesystem;
    std::error_code error;
    // In the temporary folder, else beside the file; a full disk fails both, and then the write counts
    // as failed.
    std::string scratch;
    int fd = -1;
    for (const fs::path& where : {fs::temp_directory_path(error), fs::path(path).parent_path()}) {
        scratch = ((where.empty() ? fs::path(".") : where) / ".cantivo-settings-XXXXXX").string();
        fd = ::mkstemp(scratch.data());
        if (fd >= 0)
            break;
    }
    if (fd < 0) {
        problem = "the written file can not be checked: " + ErrnoText(errno);
        return false;
    }
    ::close(fd);
    fs::copy_file(path, scratch, fs::copy_options::overwrite_existing, error);
    bool same = !error;
    if (!same) {
        problem = "the written file can not be checked: " + error.message();
    } else {
        QSettings written(QString::fromUtf8(Bytes(scratch)), QSettings::IniFormat);
        const QStringList keys = settings.allKeys();
        same = written.status() == QSettings::NoError && written.allKeys() == keys;
        for (qsizetype i = 0; same && i < keys.size(); ++i)
            same = Normalized(written.value(keys[i])) == Normalized(settings.value(keys[i]));
        if (!same)
            problem = "the file was not written whole";
    }
    fs::remove(scratch, error);
    return same;
}

// QSettings replaces the file without flushing it to disk; a power cut must not leave it empty.
void FlushToDisk(const std::string& path)
{
    if (const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC); fd >= 0) {
        (void)::fsync(fd);
        ::close(fd);
    }
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); fd >= 0) {
        (void)::fsync(fd);
        ::close(fd);
    }
}

// QSettings tells a file another process rewrote by its size and its modification time in
// milliseconds, and the kernel stamps files from a clock that may not move between two quick writes:
// a rewrite of the same size could go unseen and its values be written over. Every write therefore
// leaves a time later than the one before it.
void AdvanceModifiedTime(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const int64_t before = int64_t{info.st_mtim.tv_sec} * 1'000'000'000 + info.st_mtim.tv_nsec;
    const int64_t after =
        std::max(int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec, (before / 1'000'000 + 1) * 1'000'000);
    const timespec times[2] = {{0, UTIME_OMIT},
                               {static_cast<time_t>(after / 1'000'000'000), static_cast<long>(after % 1'000'000'000)}};
    (void)::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

} // namespace

IniProfile::IniProfile(std::string path) : path_(std::move(path))
{
    OpenSettings();
    Reload();
}

IniProfile::~IniProfile() = default;

std::string IniProfile::ResolvePath(const std::string& configOption)
{
    if (!configOption.empty())
        return configOption;
    if (const char* config = std::getenv("CANTIVO_CONFIG"); config && *config)
        return config;
    // A relative XDG_CONFIG_HOME is invalid and must be ignored.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        return std::string(xdg) + "/Cantivo/Cantivo.ini";
    std::string home;
    if (const char* env = std::getenv("HOME"); env && *env)
        home = env;
    else if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir)
        home = entry->pw_dir;
    if (home.empty())
        home = ".";
    return home + "/.config/Cantivo/Cantivo.ini";
}

std::optional<std::string> IniProfile::TakeWarning()
{
    std::optional<std::string> warning;
    warning.swap(warning_);
    return warning;
}

// QSettings keeps the first error it meets for good, so a fresh object is made to see the next one;
// the parsed file is shared by all objects on one path, so this costs no reading.
void IniProfile::OpenSettings()
{
    settings_.reset();
    settings_ = std::make_unique<QSettings>(QString::fromUtf8(Bytes(path_)), QSettings::IniFormat);
}

IniProfile::FileState IniProfile::CheckFile(std::string& problem) const
{
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return FileState::Missing;
        problem = "can not be read (" + ErrnoText(errno) + ")";
        return FileState::Damaged;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > MaxFileSize) {
        ::close(fd);
        problem = "is not a settings file";
        return FileState::Damaged;
    }
    std::string text;
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            problem = "can not be read (" + ErrnoText(errno) + ")";
            ::close(fd);
            return FileState::Damaged;
        }
        if (got == 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
        if (text.size() > static_cast<size_t>(MaxFileSize)) {
            ::close(fd);
            problem = "is not a settings file";
            return FileState::Damaged;
        }
    }
    ::close(fd);
    if (text.find('\0') != std::string::npos) {
        problem = "is not a text file";
        return FileState::Damaged;
    }
    if (int line = 0; !LinesAreWellFormed(text, line)) {
        problem = "is damaged (line " + std::to_string(line) + ")";
        return FileState::Damaged;
    }
    return FileState::Usable;
}

void IniProfile::Reload()
{
    std::string problem;
    FileState state = CheckFile(problem);
    if (state != FileState::Damaged) {
        settings_->sync(); // reads the file again when it changed since
        if (settings_->status() != QSettings::NoError) {
            if (state == FileState::Usable) {
                state = FileState::Damaged;
                problem = "is damaged";
            }
            OpenSettings();
        }
    }
    if (state == FileState::Damaged) {
        if (!damaged_)
            warning_ = "The settings file " + path_ + " " + problem +
                       "; the default settings are used, and the file is kept as " + path_ +
                       ".bad when a setting is changed.";
        damaged_ = true;
        return;
    }
    damaged_ = false;
}

std::optional<IniProfile::Stored> IniProfile::Find(const std::vector<std::string>& names) const
{
    if (damaged_)
        return std::nullopt;
    const std::optional<QString> key = KeyOf(*settings_, names, true);
    if (!key)
        return std::nullopt;
    const QVariant value = settings_->value(*key);
    switch (value.typeId()) {
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return Stored{true, std::string(bytes.constData(), static_cast<size_t>(bytes.size()))};
    }
    case QMetaType::QString:
        return Stored{false, Utf8(value.toString())};
    case QMetaType::QStringList:
        // An unquoted hand-typed comma makes QSettings split the text; put it together again.
        return Stored{false, Utf8(value.toStringList().join(QStringLiteral(", ")))};
    default:
        return std::nullopt; // "@Variant(...)" and the like are none of ours
    }
}

int32_t IniProfile::GetInt(const std::string& section, const std::string& value, int32_t fallback) const
{
    const std::optional<Stored> stored = Find({section, value});
    if (!stored)
        return fallback;
    return ParseInt(stored->data).value_or(fallback);
}

std::string IniProfile::GetString(const std::string& section, const std::string& value,
                                  const std::string& fallback) const
{
    const std::optional<Stored> stored = Find({section, value});
    return stored ? stored->data : fallback;
}

bool IniProfile::WriteInt(const std::string& section, const std::string& value, int32_t number)
{
    return Change({section, value}, Stored{false, std::to_string(number)});
}

bool IniProfile::WriteString(const std::string& section, const std::string& value, const std::string& text)
{
    return Change({section, value}, Stored{!IsPlainText(text), text});
}

std::optional<std::vector<uint8_t>> IniProfile::GetBinary(const std::string& key, const std::string& value) const
{
    const std::optional<Stored> stored = Find({key, "Maps", value});
    if (!stored || !stored->bytes)
        return std::nullopt;
    return std::vector<uint8_t>(stored->data.begin(), stored->data.end());
}

bool IniProfile::WriteBinary(const std::string& key, const std::string& value, const std::vector<uint8_t>& bytes)
{
    return Change({key, "Maps", value}, Stored{true, std::string(bytes.begin(), bytes.end())});
}

std::vector<std::string> IniProfile::EnumValues(const std::string& key) const
{
    std::vector<std::string> names;
    if (damaged_)
        return names;
    if (const std::optional<QString> group = KeyOf(*settings_, {key, "Maps"}, true, true))
        for (const QString& name : ChildrenOf(*settings_, *group, false))
            names.push_back(DecodeName(name));
    return names;
}

bool IniProfile::DeleteValue(const std::string& key, const std::string& value)
{
    return Change({key, "Maps", value}, std::nullopt);
}

// Moves the damaged file out of the way under the lock QSettings writes under, so a good file
// another process has just written in its place is never the one moved.
bool IniProfile::KeepDamagedFileAside()
{
    QLockFile lock(QString::fromUtf8(Bytes(path_ + ".lock")));
    if (!lock.lock()) {
        lastError_ = "The settings file " + path_ + " is locked by another program.";
        return false;
    }
    std::string problem;
    if (CheckFile(problem) == FileState::Damaged && ::rename(path_.c_str(), (path_ + ".bad").c_str()) != 0) {
        lastError_ = "The damaged settings file " + path_ + " can not be kept aside: " + ErrnoText(errno) + ".";
        return false;
    }
    damaged_ = false;
    // The objects on this path still hold what QSettings made of the damaged file; with the file gone
    // the next read finds it empty.
    OpenSettings();
    return true;
}

bool IniProfile::Change(const std::vector<std::string>& names, const std::optional<Stored>& value)
{
    lastError_.clear();
    // One writer at a time from reading the file to stamping it (QSettings' own lock covers only its
    // write), so each writer reads what the one before it wrote.
    // A folder where no lock can be made (not there yet, not writable) is left to the write, which
    // makes the folder or says why it cannot.
    QLockFile writing(QString::fromUtf8(Bytes(path_ + ".write-lock")));
    if (!writing.tryLock(5000) && writing.error() == QLockFile::LockFailedError) {
        lastError_ = "The settings file " + path_ + " is being written by another program; try again.";
        return false;
    }
    // Start from the file as it is now, so settings another process wrote meanwhile are seen.
    Reload();
    if (damaged_ && !KeepDamagedFileAside())
        return false;
    const std::optional<Stored> before = Find(names);
    if (!value && !before) {
        lastError_ = "There is no value " + names.back() + " under " + names.front() + ".";
        return false;
    }
    if (value && before == value)
        return true; // nothing to write

    namespace fs = std::filesystem;
    const fs::path folder = fs::path(path_).has_parent_path() ? fs::path(path_).parent_path() : fs::path(".");
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        lastError_ = "The folder " + folder.string() + " can not be made: " + error.message() + ".";
        return false;
    }

    const QString key = *KeyOf(*settings_, names, false);
    const auto toVariant = [](const Stored& stored) {
        return stored.bytes ? QVariant(Bytes(stored.data)) : QVariant(QString::fromUtf8(Bytes(stored.data)));
    };
    if (value)
        settings_->setValue(key, toVariant(*value));
    else
        settings_->remove(key);
    // Written now, not later: the stage player may be stopped at any moment.
    settings_->sync();
    std::string problem = "the disk may be full, or the file or its folder may not be writable";
    if (settings_->status() == QSettings::NoError && FileHoldsSettings(*settings_, path_, problem)) {
        AdvanceModifiedTime(path_);
        FlushToDisk(path_);
        return true;
    }

    lastError_ = "The settings can not be written to " + path_ + " (" + problem + ").";
    // Take the change back, so it neither shows as stored nor is written by a later sync.
    if (before)
        settings_->setValue(key, toVariant(*before));
    else
        settings_->remove(key);
    settings_->sync();
    OpenSettings();
    return false;
}

} // namespace cantivo
