#pragma once

#include "song/Measure.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace cantivo {

class Song;

// The whole measure table, kept compactly: the count, and in measure order an entry for each measure
// that differs from what the one before implies (a copy of it starting at its end, numbered one more,
// without letter). Restoring reproduces the table exactly, field for field.
class MeasureSnapshot {
  public:
    static MeasureSnapshot Of(const std::vector<Measure>& measures);
    static MeasureSnapshot Of(const Song& song);
    std::vector<Measure> Measures() const;
    // Puts the snapshot's table into the song.
    void Restore(Song& song) const;
    // Applying a step's snapshot: the song takes this table and the snapshot keeps the song's.
    void Exchange(Song& song);

    uint32_t Count() const { return count_; }
    size_t EntryCount() const { return entries_.size(); }

  private:
    uint32_t count_ = 0;
    std::vector<std::pair<uint32_t, Measure>> entries_;
};

// Every field of the two measures is the same.
bool SameMeasure(const Measure& a, const Measure& b);

} // namespace cantivo
