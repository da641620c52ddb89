#include "set/RecentList.h"

#include "song/Profile.h"

#include <algorithm>
#include <cstdio>

namespace cantivo {

namespace {

std::string ValueName(const std::string& format, size_t number)
{
    char name[64];
    std::snprintf(name, sizeof name, format.c_str(), static_cast<int>(number));
    return name;
}

} // namespace

RecentList::RecentList(Profile& profile, std::string section, std::string valueFormat, size_t capacity)
    : profile_(profile), section_(std::move(section)), valueFormat_(std::move(valueFormat)), capacity_(capacity)
{
    for (size_t i = 1; i <= capacity_; ++i) {
        std::string path = profile_.GetString(section_, ValueName(valueFormat_, i), "");
        if (!path.empty() && std::find(entries_.begin(), entries_.end(), path) == entries_.end())
            entries_.push_back(std::move(path));
    }
}

void RecentList::Add(const std::string& path)
{
    if (path.empty())
        return;
    std::erase(entries_, path);
    entries_.insert(entries_.begin(), path);
    if (entries_.size() > capacity_)
        entries_.resize(capacity_);
    Store();
}

void RecentList::Remove(const std::string& path)
{
    std::erase(entries_, path);
    Store();
}

void RecentList::Store()
{
    for (size_t i = 1; i <= capacity_; ++i) {
        const std::string name = ValueName(valueFormat_, i);
        // An empty value is no entry; the store's DeleteValue is for binary values of a key.
        if (i <= entries_.size())
            profile_.WriteString(section_, name, entries_[i - 1]);
        else if (!profile_.GetString(section_, name, "").empty())
            profile_.WriteString(section_, name, "");
    }
}

RecentList RecentSets(Profile& profile)
{
    return RecentList(profile, "Recent File List", "File%d", 4);
}

RecentList RecentSongs(Profile& profile)
{
    return RecentList(profile, "Recent Song List", "Song%d", 4);
}

} // namespace cantivo
