// The control maps in the settings store: what the dialog lists, what a stored value reads back as, and
// the order the dialog's OK writes in.
#include "app/ControlMapStore.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace cantivo::test {
namespace {

// A store that lists its values newest first, as a real one may, and logs the binary writes.
class LoggingProfile final : public Profile {
  public:
    int32_t GetInt(const std::string& s, const std::string& v, int32_t fallback) const override
    {
        return inner.GetInt(s, v, fallback);
    }
    std::string GetString(const std::string& s, const std::string& v, const std::string& fallback) const override
    {
        return inner.GetString(s, v, fallback);
    }
    bool WriteInt(const std::string& s, const std::string& v, int32_t number) override
    {
        return inner.WriteInt(s, v, number);
    }
    bool WriteString(const std::string& s, const std::string& v, const std::string& text) override
    {
        return inner.WriteString(s, v, text);
    }
    std::optional<std::vector<uint8_t>> GetBinary(const std::string& k, const std::string& v) const override
    {
        return inner.GetBinary(k, v);
    }
    bool WriteBinary(const std::string& k, const std::string& v, const std::vector<uint8_t>& bytes) override
    {
        written.push_back(v);
        return inner.WriteBinary(k, v, bytes);
    }
    std::vector<std::string> EnumValues(const std::string& k) const override
    {
        std::vector<std::string> names = inner.EnumValues(k);
        std::reverse(names.begin(), names.end());
        return names;
    }
    bool DeleteValue(const std::string& k, const std::string& v) override { return inner.DeleteValue(k, v); }

    MemoryProfile inner;
    std::vector<std::string> written;
};

ControlMap MapOf(const std::string& name, size_t entries)
{
    return {name, std::vector<ControlEntry>(entries, ControlEntry::Make(0, 0, 64, 0, ControlAction::PlayTap))};
}

TEST(ControlMapStore, ListsAtMostAHundredMapsSortedByName)
{
    LoggingProfile profile;
    ControlMapStore store(profile);
    std::string error;
    for (int i = 100; i >= 0; --i) {
        char name[8];
        std::snprintf(name, sizeof name, "m%03d", i);
        ASSERT_TRUE(store.Write(MapOf(name, 1), error)) << error;
    }
    const std::vector<ControlMap> maps = store.Maps();
    ASSERT_EQ(maps.size(), ControlMapStore::MaxMaps);
    EXPECT_EQ(maps.front().name, "m000");
    EXPECT_EQ(maps.back().name, "m099");
    EXPECT_TRUE(std::is_sorted(maps.begin(), maps.end(), [](auto& a, auto& b) { return a.name < b.name; }));
}

TEST(ControlMapStore, AStoredValueReadsBackByItsSize)
{
    const struct {
        const char* what;
        size_t bytes;
        size_t entries;
    } cases[] = {{"empty", 0, 0}, {"128 entries", 512, 128}, {"a partial word dropped", 10, 2}, {"over 512", 516, 0}};
    for (const auto& c : cases) {
        MemoryProfile profile;
        ASSERT_TRUE(profile.WriteBinary("Keymap", "MIDI", std::vector<uint8_t>(c.bytes, 1)));
        const ControlMapStore store(profile);
        ASSERT_EQ(store.Maps().size(), 1u) << c.what;
        EXPECT_EQ(store.Maps().front().entries.size(), c.entries) << c.what;
        EXPECT_EQ(store.ActiveMap().entries.size(), c.entries) << c.what;
    }
}

TEST(ControlMapStore, SaveReplacesEveryMapWritingFromTheLastToTheFirst)
{
    LoggingProfile profile;
    ControlMapStore store(profile);
    std::string error;
    ASSERT_TRUE(store.Write(MapOf("Old", 1), error));
    // A map over 128 entries refuses the whole save.
    EXPECT_FALSE(store.Save({MapOf("A", 1), MapOf("Big", 129)}, "A", true, error));
    EXPECT_NE(error.find("nothing was stored"), std::string::npos) << error;
    EXPECT_EQ(store.Maps(), std::vector<ControlMap>{MapOf("Old", 1)});

    profile.written.clear();
    ASSERT_TRUE(store.Save({MapOf("A", 1), MapOf("B", 2), MapOf("C", 128)}, "B", false, error)) << error;
    EXPECT_EQ(profile.written, (std::vector<std::string>{"C", "B", "A"}));
    EXPECT_EQ(store.Maps(), (std::vector<ControlMap>{MapOf("A", 1), MapOf("B", 2), MapOf("C", 128)}));
    EXPECT_EQ(store.UseWhich(), "B");
    EXPECT_FALSE(store.Enabled());
    EXPECT_EQ(store.ActiveMap(), MapOf("B", 2));
}

TEST(ControlMapStore, ALongNameIsListedAndFoundCutTo99Bytes)
{
    const std::string accent = "\xC3\xA9"; // two bytes in UTF-8
    const struct {
        std::string name;
        std::string stored;
    } cases[] = {
        {std::string(99, 'a'), std::string(99, 'a')},
        {std::string(150, 'b'), std::string(99, 'b')},
        {std::string(98, 'c') + accent, std::string(98, 'c')}, // the accent would be split
    };
    for (const auto& c : cases) {
        MemoryProfile profile;
        ControlMapStore store(profile);
        std::string error;
        ASSERT_TRUE(store.Write(MapOf(c.name, 1), error));
        ASSERT_EQ(store.Maps().size(), 1u);
        EXPECT_EQ(store.Maps().front().name, c.stored);
        EXPECT_EQ(store.Find(c.name), store.Maps().front()) << "found by the name it was written with";
        EXPECT_EQ(store.Find(c.stored), store.Maps().front()) << "and by the name listed";
    }
}

} // namespace
} // namespace cantivo::test
