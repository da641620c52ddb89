#include "platform/CaptureLog.h"

#include <cerrno>
#include <cstring>
#include <inttypes.h>

namespace cantivo {

namespace {

constexpr size_t BufferSize = size_t{1} << 20;

} // namespace

std::unique_ptr<CaptureLog> CaptureLog::Open(const std::string& path, const MicrosecondClock& clock, std::string& error)
{
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file) {
        error = "The capture log " + path + " cannot be written: " + std::strerror(errno) + ".";
        return nullptr;
    }
    return std::unique_ptr<CaptureLog>(new CaptureLog(file, clock, path));
}

CaptureLog::CaptureLog(std::FILE* file, const MicrosecondClock& clock, std::string path)
    : file_(file), clock_(clock), start_(clock.NowMicroseconds()), path_(std::move(path)), buffer_(new char[BufferSize])
{
    std::setvbuf(file_, buffer_.get(), _IOFBF, BufferSize);
}

CaptureLog::~CaptureLog()
{
    std::string ignored;
    (void)Close(ignored); // a caller that needs to know closes first
}

void CaptureLog::RecordShort(int port, uint32_t message)
{
    const uint8_t bytes[3] = {static_cast<uint8_t>(message), static_cast<uint8_t>(message >> 8),
                              static_cast<uint8_t>(message >> 16)};
    Record(port, bytes, ShortMessageSize(message));
}

void CaptureLog::RecordLong(int port, std::span<const uint8_t> bytes)
{
    Record(port, bytes.data(), bytes.size());
}

void CaptureLog::Record(int port, const uint8_t* bytes, size_t count)
{
    if (!file_ || count == 0)
        return;
    static constexpr char Digits[] = "0123456789ABCDEF";
    char line[64];
    int used = std::snprintf(line, sizeof line, "%" PRId64 "\t%d\t", clock_.NowMicroseconds() - start_, port);
    // Long messages go out in pieces of the line buffer; nothing here allocates.
    for (size_t i = 0; i < count; ++i) {
        if (used + 4 > static_cast<int>(sizeof line)) {
            std::fwrite(line, 1, static_cast<size_t>(used), file_);
            used = 0;
        }
        if (i > 0)
            line[used++] = ' ';
        line[used++] = Digits[bytes[i] >> 4];
        line[used++] = Digits[bytes[i] & 15];
    }
    line[used++] = '\n';
    std::fwrite(line, 1, static_cast<size_t>(used), file_);
}

void CaptureLog::Comment(std::string_view text)
{
    if (!file_)
        return;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find('\n', start);
        const std::string_view piece = text.substr(start, end == std::string_view::npos ? end : end - start);
        std::fputs("# ", file_);
        std::fwrite(piece.data(), 1, piece.size(), file_);
        std::fputc('\n', file_);
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
}

bool CaptureLog::Close(std::string& error)
{
    if (!file_)
        return !failed_;
    const bool written = std::fflush(file_) == 0 && !std::ferror(file_);
    const int flushError = errno;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!written || !closed) {
        failed_ = true;
        error = "The capture log " + path_ + " is incomplete: " + std::strerror(written ? errno : flushError) + ".";
    }
    return !failed_;
}

} // namespace cantivo
