#pragma once

#include <string>
#include <vector>

namespace cantivo {

class Profile;

// A most-recent-first list of paths kept in the settings: one string value per entry, named by the
// format with its 1-based number ("Song1", "Song2", ...).
class RecentList {
  public:
    RecentList(Profile& profile, std::string section, std::string valueFormat, size_t capacity);

    const std::vector<std::string>& Entries() const { return entries_; }
    // To the front; a path already listed moves up, the oldest falls off.
    void Add(const std::string& path);
    void Remove(const std::string& path);

  private:
    void Store();

    Profile& profile_;
    std::string section_;
    std::string valueFormat_;
    size_t capacity_;
    std::vector<std::string> entries_;
};

// The lists the set document keeps: sets (4) and songs (4).
RecentList RecentSets(Profile& profile);
RecentList RecentSongs(Profile& profile);

} // namespace cantivo
