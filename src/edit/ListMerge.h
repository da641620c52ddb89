#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

// Internal to edit/: the two list operations every delta is made of, each one pass over the list, so
// that a step touching many items costs O(n) per list and not O(n²).
namespace cantivo::listmerge {

// Sorts and removes repeats.
inline void SortUnique(std::vector<uint32_t>& indexes)
{
    if (!std::is_sorted(indexes.begin(), indexes.end()))
        std::sort(indexes.begin(), indexes.end());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
}

// Moves the items at `indexes` (ascending, no repeats) out of `items` into `taken`, in index order.
// Indexes past the end are ignored. Returns the indexes that were taken.
template <typename T>
std::vector<uint32_t> TakeAt(std::vector<T>& items, const std::vector<uint32_t>& indexes, std::vector<T>& taken)
{
    std::vector<uint32_t> done;
    if (indexes.empty() || indexes.front() >= items.size())
        return done;
    size_t next = 0;
    size_t write = indexes.front();
    for (size_t read = write; read < items.size(); ++read) {
        if (next < indexes.size() && indexes[next] == read) {
            taken.push_back(std::move(items[read]));
            done.push_back(static_cast<uint32_t>(read));
            ++next;
        } else {
            if (write != read)
                items[write] = std::move(items[read]);
            ++write;
        }
    }
    items.erase(items.begin() + static_cast<std::ptrdiff_t>(write), items.end());
    return done;
}

// Puts each pending item at its final index (pending sorted by index): an item whose index lies past
// what the list can give goes right after the items placed so far. Returns the index each item got.
template <typename T> std::vector<uint32_t> PlaceAt(std::vector<T>& items, std::vector<std::pair<uint32_t, T>>& pending)
{
    std::vector<uint32_t> placed;
    if (pending.empty())
        return placed;
    placed.reserve(pending.size());
    std::vector<T> merged;
    merged.reserve(items.size() + pending.size());
    size_t old = 0;
    for (auto& [index, item] : pending) {
        while (merged.size() < index && old < items.size())
            merged.push_back(std::move(items[old++]));
        placed.push_back(static_cast<uint32_t>(merged.size()));
        merged.push_back(std::move(item));
    }
    while (old < items.size())
        merged.push_back(std::move(items[old++]));
    items = std::move(merged);
    return placed;
}

// Turns positions resolved against the list before insertion (pending sorted by them) into final
// indexes: each item moves up by the number of items placed before it.
template <typename T> void ToFinalIndexes(std::vector<std::pair<uint32_t, T>>& pending)
{
    uint32_t before = 0;
    for (auto& entry : pending)
        entry.first += before++;
}

} // namespace cantivo::listmerge
