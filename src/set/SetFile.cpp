#include "set/SetFile.h"

#include "song/TextEncoding.h"

namespace cantivo {

namespace {

class Reader {
  public:
    explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    bool Left(size_t count) const { return bytes_.size() - at_ >= count; }
    uint32_t Take(int size)
    {
        uint32_t value = 0;
        for (int i = 0; i < size; ++i)
            value |= static_cast<uint32_t>(bytes_[at_++]) << (8 * i);
        return value;
    }
    std::span<const uint8_t> Bytes(size_t count)
    {
        const std::span<const uint8_t> taken = bytes_.subspan(at_, count);
        at_ += count;
        return taken;
    }

    // A counted string; false when the file ends inside it.
    bool CountedString(std::string& text)
    {
        if (!Left(1))
            return false;
        uint64_t length = Take(1);
        bool wide = false;
        if (length == 0xFF) {
            if (!Left(2))
                return false;
            length = Take(2);
            if (length == 0xFFFE) {
                // The wide form: the mark, then a length of its own, counted in UTF-16 units.
                wide = true;
                if (!Left(1))
                    return false;
                length = Take(1);
                if (length == 0xFF) {
                    if (!Left(2))
                        return false;
                    length = Take(2);
                    if (length == 0xFFFF) {
                        if (!Left(4))
                            return false;
                        length = Take(4);
                    }
                }
                length *= 2;
            } else if (length == 0xFFFF) {
                if (!Left(4))
                    return false;
                length = Take(4);
            }
        }
        if (!Left(length))
            return false;
        const std::span<const uint8_t> raw = Bytes(static_cast<size_t>(length));
        text = wide ? Utf16LeToUtf8(raw)
                    : LegacyTextToUtf8(std::string_view(reinterpret_cast<const char*>(raw.data()), raw.size()));
        return true;
    }

  private:
    std::span<const uint8_t> bytes_;
    size_t at_ = 0;
};

void Put(std::vector<uint8_t>& out, uint32_t value, int size)
{
    for (int i = 0; i < size; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutCountedString(std::vector<uint8_t>& out, const std::string& text)
{
    const size_t length = text.size();
    if (length < 0xFF) {
        Put(out, static_cast<uint32_t>(length), 1);
    } else if (length < 0xFFFE) {
        Put(out, 0xFF, 1);
        Put(out, static_cast<uint32_t>(length), 2);
    } else {
        Put(out, 0xFF, 1);
        Put(out, 0xFFFF, 2);
        Put(out, static_cast<uint32_t>(length), 4);
    }
    out.insert(out.end(), text.begin(), text.end());
}

} // namespace

bool ParseSetFile(std::span<const uint8_t> bytes, SetFileContents& contents, std::string& error)
{
    contents = {};
    Reader reader(bytes);
    if (!reader.Left(6)) {
        error = "the file is too short to be a set file (" + std::to_string(bytes.size()) + " bytes)";
        return false;
    }
    contents.count = static_cast<int32_t>(reader.Take(4));
    (void)reader.Take(2); // the format version: every version reads the same
    // The count is a promise the bytes must keep: each entry takes at least five.
    for (int32_t i = 0; i < contents.count; ++i) {
        std::string path;
        if (!reader.Left(4)) {
            contents.truncated = true;
            break;
        }
        (void)reader.Take(4);
        if (!reader.CountedString(path)) {
            contents.truncated = true;
            break;
        }
        contents.paths.push_back(std::move(path));
    }
    return true;
}

std::vector<uint8_t> SetFileBytes(const std::vector<std::string>& paths)
{
    std::vector<uint8_t> out;
    Put(out, static_cast<uint32_t>(paths.size()), 4);
    Put(out, SetFileVersion, 2);
    for (const std::string& path : paths) {
        Put(out, 0, 4);
        PutCountedString(out, path);
    }
    Put(out, 0, 4);
    return out;
}

std::string StoredPathName(const std::string& path)
{
    const size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

} // namespace cantivo
