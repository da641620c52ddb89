#include "app/UpdateVersion.h"

#include <charconv>
#include <climits>
#include <cstdio>

#ifndef CANTIVO_VERSION
#error "CANTIVO_VERSION must be defined by the build"
#endif

namespace cantivo {

namespace {

// Reads an unsigned decimal at the front of `text`; the digits are taken off it.
std::optional<int64_t> TakeNumber(std::string_view& text)
{
    size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
        ++digits;
    if (digits == 0 || digits > 9)
        return std::nullopt;
    int64_t value = 0;
    std::from_chars(text.data(), text.data() + digits, value);
    text.remove_prefix(digits);
    return value;
}

} // namespace

UpdateSettings ReadUpdateSettings(const Profile& profile)
{
    UpdateSettings settings;
    settings.checkAtStartUp = profile.GetInt("StartupOptions", "CheckForUpdates", 0) == 1;
    settings.url = profile.GetString("StartupOptions", "UpdateUrl", "");
    settings.downloadUrl = profile.GetString("StartupOptions", "DownloadUrl", "");
    return settings;
}

std::optional<int32_t> VersionNumber(std::string_view dotted)
{
    int64_t parts[3] = {0, 0, 0};
    int count = 0;
    while (count < 3) {
        const std::optional<int64_t> part = TakeNumber(dotted);
        if (!part)
            return std::nullopt;
        parts[count++] = *part;
        if (dotted.empty())
            break;
        if (dotted.front() != '.')
            return std::nullopt;
        dotted.remove_prefix(1);
    }
    if (!dotted.empty() || count < 2 || parts[1] > 99 || parts[2] > 99 || parts[0] > 200000)
        return std::nullopt;
    return static_cast<int32_t>(parts[0] * 10000 + parts[1] * 100 + parts[2]);
}

int32_t ProgramVersionNumber()
{
    return VersionNumber(CANTIVO_VERSION).value_or(0);
}

std::string VersionText(int32_t number)
{
    char text[32];
    std::snprintf(text, sizeof text, "%d.%02d.%02d", number / 10000, number / 100 % 100, number % 100);
    return text;
}

UpdateResult ReadVersionReply(std::string_view reply, int32_t ownNumber)
{
    UpdateResult result;
    if (reply.size() > MaxVersionReplyBytes)
        reply = reply.substr(0, MaxVersionReplyBytes);
    const size_t key = reply.find("Version=");
    if (key == std::string_view::npos) {
        result.detail = "the reply holds no \"Version=\"";
        return result;
    }
    std::string_view rest = reply.substr(key + 8);
    size_t end = 0;
    while (end < rest.size() && ((rest[end] >= '0' && rest[end] <= '9') || rest[end] == '.'))
        ++end;
    const std::string_view number = rest.substr(0, end);
    std::optional<int32_t> published;
    if (number.find('.') != std::string_view::npos) {
        published = VersionNumber(number);
    } else {
        std::string_view digits = number;
        if (const std::optional<int64_t> plain = TakeNumber(digits); plain && *plain <= INT32_MAX)
            published = static_cast<int32_t>(*plain);
    }
    if (!published || *published < 1) {
        result.detail = "the reply's version \"" + std::string(number) + "\" is not a version number";
        return result;
    }
    result.published = *published;
    result.status = *published > ownNumber ? UpdateStatus::Available : UpdateStatus::UpToDate;

    // The notes follow the first run of line breaks.
    const size_t lineEnd = reply.find_first_of("\r\n");
    if (lineEnd != std::string_view::npos) {
        const size_t notes = reply.find_first_not_of("\r\n", lineEnd);
        if (notes != std::string_view::npos)
            result.releaseNotes = std::string(reply.substr(notes));
    }
    return result;
}

std::optional<std::string> UpdateMessage(const UpdateResult& result, bool startedByCommand, bool canDownload)
{
    switch (result.status) {
    case UpdateStatus::Available:
        return "Version " + VersionText(result.published) + " is now available.\n\nRELEASE NOTES:\n" +
               result.releaseNotes + (canDownload ? "\n\nDownload now?" : "");
    case UpdateStatus::UpToDate:
        if (startedByCommand)
            return std::string("Your software is up-to-date.");
        return std::nullopt;
    case UpdateStatus::NoConnection:
        if (startedByCommand)
            return std::string("Trouble connecting.\nPlease check your Internet connection and try again.");
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace cantivo
