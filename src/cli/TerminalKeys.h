#pragma once

#include "app/AccelMap.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cantivo {

enum class KeyCode : uint8_t {
    Character, // `character` holds the Unicode code point
    Enter,
    Escape,
    Tab,
    Backspace,
    Up,
    Down,
    Left,
    Right,
    Home,
    End,
    PageUp,
    PageDown,
    Insert,
    Delete,
    F1,
    F2,
    F3,
    F4,
    F5,
    F6,
    F7,
    F8,
    F9,
    F10,
    F11,
    F12,
};

// Bits of TerminalKey::modifiers. Super, Hyper and Meta all read as KeySuper, so such a key is
// never taken for the plain one.
enum KeyModifier : uint8_t {
    KeyShift = 1,
    KeyAlt = 2,
    KeyCtrl = 4,
    KeySuper = 8,
};

struct TerminalKey {
    KeyCode code = KeyCode::Character;
    char32_t character = 0;
    uint8_t modifiers = 0;

    friend bool operator==(const TerminalKey&, const TerminalKey&) = default;
};

// At most two keys come out of one byte: "Esc Esc x" ends with both the first Esc and Alt+x.
struct DecodedKeys {
    std::array<TerminalKey, 2> keys{};
    uint8_t count = 0;

    const TerminalKey* begin() const { return keys.data(); }
    const TerminalKey* end() const { return keys.data() + count; }
    bool empty() const { return count == 0; }
};

// Turns the bytes a terminal in raw mode sends into keys: xterm/VT CSI and SS3 sequences with their
// modifier parameter, the rxvt and Linux console variants, the CSI-u forms (kitty, modifyOtherKeys),
// Alt as an Esc prefix, control bytes as Ctrl+key, and UTF-8 characters. An unknown sequence is
// swallowed whole. Holds no memory beyond its members, so it can be fed from any loop.
class KeyDecoder {
  public:
    [[nodiscard]] DecodedKeys Feed(uint8_t byte);

    // A lone Esc cannot be told from the start of a sequence until the input has been quiet for a
    // while; the caller calls this after such a pause (about 50 ms). It also completes Alt+[ and Alt+O.
    [[nodiscard]] DecodedKeys Flush();

    // True while bytes are held that only more input or a Flush() can complete.
    bool Pending() const { return state_ != State::Ground; }

    template <class Sink> void Feed(std::span<const uint8_t> bytes, Sink&& sink)
    {
        for (uint8_t byte : bytes)
            for (const TerminalKey& key : Feed(byte))
                sink(key);
    }

  private:
    enum class State : uint8_t {
        Ground,
        Escape,       // ESC seen
        EscapeEscape, // ESC ESC seen: rxvt sends Alt+arrow that way
        Csi,          // ESC [
        CsiBracket,   // ESC [ [ : Linux console F1 to F5
        Ss3,          // ESC O
        Utf8,
    };
    static constexpr size_t MaxParameters = 4;

    void StartSequence(State state, bool alt);
    std::optional<TerminalKey> FinishCsi(uint8_t final) const;
    std::optional<TerminalKey> FinishSs3(uint8_t final) const;
    DecodedKeys Ground(uint8_t byte);

    State state_ = State::Ground;
    bool alt_ = false;       // the sequence came after an extra ESC
    bool malformed_ = false; // private markers, intermediates or too many parameters: swallow it
    bool subParameter_ = false;
    uint8_t parameterCount_ = 0;
    std::array<uint32_t, MaxParameters> parameters_{};
    char32_t utf8Value_ = 0;
    uint8_t utf8Left_ = 0;
};

// What a key does during playback: a command from the command table, or one of the two keys that
// belong to the terminal session itself.
enum class KeyActionKind : uint8_t {
    Command,
    ShowKeys, // print KeyHelpText()
    ShowSet,  // print the songs of the set
    Quit,
};

struct KeyAction {
    KeyActionKind kind = KeyActionKind::Command;
    uint16_t command = 0; // a CommandId value when kind is Command

    friend bool operator==(const KeyAction&, const KeyAction&) = default;
};

// The command a key issues, following the built-in "Default" accelerator map where a terminal can send
// the key, plus the foot-pedal keys (plain PgUp/PgDn, Left/Right, Enter) and plain-character
// alternatives for the Ctrl and Alt chords terminals swallow.
std::optional<uint16_t> CommandForKey(const TerminalKey& key);
// CommandForKey, plus "?" and F1 (show the keys) and "q" (quit). Performing a set, plain PgDn and PgUp
// move to the next and previous song (Ctrl+PgDn and Ctrl+PgUp still move by cues), Ctrl+F6 reverts
// to the previous song and "l" lists the set.
std::optional<KeyAction> ActionForKey(const TerminalKey& key, bool set = false);

// One line per key: the key and the name of what it does.
std::string KeyHelpText(bool set = false, std::span<const AccelEntry> map = {});

struct AccelEntry;

// A key as an accelerator entry sees it: virtual-key code and flags (AccelVirtualKey set, Shift, Ctrl
// and Alt). Characters without a key of their own ("?", "+") and Super chords give nothing.
struct VirtualKeyPress {
    uint8_t flags = 0;
    uint16_t virtualKey = 0;

    friend bool operator==(const VirtualKeyPress&, const VirtualKeyPress&) = default;
};
std::optional<VirtualKeyPress> VirtualKeyForTerminalKey(const TerminalKey& key);
// The terminal key for an entry; nothing for a key a terminal cannot send (Ctrl+1, say).
std::optional<TerminalKey> TerminalKeyForVirtualKey(uint8_t flags, uint16_t virtualKey);

// ActionForKey with an accelerator map in force (other than the built-in "Default", which the built-in
// keys follow): the map's binding of a key comes first, and a key it does not bind keeps its built-in
// meaning, so a custom map never leaves a performer without Stop or Quit.
std::optional<KeyAction> ActionForKey(const TerminalKey& key, bool set, const std::vector<AccelEntry>& map);

} // namespace cantivo
