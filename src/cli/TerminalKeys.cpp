#include "cli/TerminalKeys.h"

#include "app/AccelMap.h"
#include "app/CommandTable.h"

#include <algorithm>

namespace cantivo {

namespace {

constexpr uint8_t Esc = 0x1B;
constexpr uint32_t MaxParameterValue = 99999;

constexpr TerminalKey Key(KeyCode code, uint8_t modifiers = 0)
{
    return TerminalKey{code, 0, modifiers};
}

constexpr TerminalKey Char(char32_t character, uint8_t modifiers = 0)
{
    return TerminalKey{KeyCode::Character, character, modifiers};
}

DecodedKeys One(const TerminalKey& key)
{
    DecodedKeys keys;
    keys.keys[keys.count++] = key;
    return keys;
}

void Append(DecodedKeys& keys, const DecodedKeys& more)
{
    for (const TerminalKey& key : more)
        if (keys.count < keys.keys.size())
            keys.keys[keys.count++] = key;
}

// xterm sends 1 + the modifier bits; kitty adds Super, Hyper, Meta and the lock keys above them.
uint8_t ModifiersFromParameter(uint32_t value)
{
    if (value <= 1)
        return 0;
    const uint32_t bits = value - 1;
    uint8_t modifiers = 0;
    if (bits & 1)
        modifiers |= KeyShift;
    if (bits & 2)
        modifiers |= KeyAlt;
    if (bits & 4)
        modifiers |= KeyCtrl;
    if (bits & (8 | 16 | 32))
        modifiers |= KeySuper;
    return modifiers;
}

// The key a CSI-u or modifyOtherKeys sequence names by its code point.
std::optional<TerminalKey> KeyFromCodePoint(uint32_t codePoint, uint8_t modifiers)
{
    switch (codePoint) {
    case 13:
        return Key(KeyCode::Enter, modifiers);
    case 27:
        return Key(KeyCode::Escape, modifiers);
    case 9:
        return Key(KeyCode::Tab, modifiers);
    case 8:
    case 127:
        return Key(KeyCode::Backspace, modifiers);
    default:
        break;
    }
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    // kitty numbers its function keys in the private use area; those are not characters.
    const bool privateUse = codePoint >= 0xE000 && codePoint <= 0xF8FF;
    if (codePoint < 0x20 || (codePoint >= 0x7F && codePoint < 0xA0) || surrogate || privateUse || codePoint > 0x10FFFF)
        return std::nullopt;
    return Char(codePoint, modifiers);
}

// The number before "~" in "ESC [ n ~" (xterm, VT220) and rxvt's "^", "$", "@" forms.
std::optional<KeyCode> TildeKey(uint32_t number)
{
    switch (number) {
    case 1:
    case 7:
        return KeyCode::Home;
    case 2:
        return KeyCode::Insert;
    case 3:
        return KeyCode::Delete;
    case 4:
    case 8:
        return KeyCode::End;
    case 5:
        return KeyCode::PageUp;
    case 6:
        return KeyCode::PageDown;
    case 11:
        return KeyCode::F1;
    case 12:
        return KeyCode::F2;
    case 13:
        return KeyCode::F3;
    case 14:
        return KeyCode::F4;
    case 15:
        return KeyCode::F5;
    case 17:
        return KeyCode::F6;
    case 18:
        return KeyCode::F7;
    case 19:
        return KeyCode::F8;
    case 20:
        return KeyCode::F9;
    case 21:
        return KeyCode::F10;
    case 23:
        return KeyCode::F11;
    case 24:
        return KeyCode::F12;
    default:
        return std::nullopt;
    }
}

// The final letter of "ESC [ 1 ; m X" and "ESC O X".
std::optional<KeyCode> LetterKey(uint8_t final)
{
    switch (final) {
    case 'A':
        return KeyCode::Up;
    case 'B':
        return KeyCode::Down;
    case 'C':
        return KeyCode::Right;
    case 'D':
        return KeyCode::Left;
    case 'H':
        return KeyCode::Home;
    case 'F':
        return KeyCode::End;
    case 'P':
        return KeyCode::F1;
    case 'Q':
        return KeyCode::F2;
    case 'R':
        return KeyCode::F3;
    case 'S':
        return KeyCode::F4;
    default:
        return std::nullopt;
    }
}

} // namespace

void KeyDecoder::StartSequence(State state, bool alt)
{
    state_ = state;
    alt_ = alt;
    malformed_ = false;
    subParameter_ = false;
    parameterCount_ = 0;
    parameters_.fill(0);
}

DecodedKeys KeyDecoder::Ground(uint8_t byte)
{
    state_ = State::Ground;
    if (byte == Esc) {
        state_ = State::Escape;
        return {};
    }
    if (byte == '\r' || byte == '\n')
        return One(Key(KeyCode::Enter));
    if (byte == '\t')
        return One(Key(KeyCode::Tab));
    if (byte == 0x7F || byte == 0x08)
        return One(Key(KeyCode::Backspace));
    if (byte == 0)
        return One(Char(' ', KeyCtrl));
    if (byte < 0x1B)
        return One(Char(U'a' + byte - 1, KeyCtrl));
    if (byte < 0x20) {
        // 0x1C to 0x1F: Ctrl with \ ] ^ _
        static constexpr char32_t Shifted[] = {U'\\', U']', U'^', U'_'};
        return One(Char(Shifted[byte - 0x1C], KeyCtrl));
    }
    if (byte < 0x7F)
        return One(Char(byte));
    // The lead byte of a UTF-8 character; stray continuation bytes and invalid leads are dropped.
    if (byte >= 0xC2 && byte <= 0xDF) {
        utf8Value_ = byte & 0x1F;
        utf8Left_ = 1;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
        utf8Value_ = byte & 0x0F;
        utf8Left_ = 2;
    } else if (byte >= 0xF0 && byte <= 0xF4) {
        utf8Value_ = byte & 0x07;
        utf8Left_ = 3;
    } else {
        return {};
    }
    state_ = State::Utf8;
    return {};
}

DecodedKeys KeyDecoder::Feed(uint8_t byte)
{
    switch (state_) {
    case State::Ground:
        return Ground(byte);

    case State::Utf8: {
        if ((byte & 0xC0) != 0x80)
            return Ground(byte); // a cut-off character: drop it, the byte starts afresh
        utf8Value_ = (utf8Value_ << 6) | (byte & 0x3F);
        if (--utf8Left_ > 0)
            return {};
        state_ = State::Ground;
        if (auto key = KeyFromCodePoint(utf8Value_, 0); key && utf8Value_ >= 0x80)
            return One(*key);
        return {};
    }

    case State::Escape:
    case State::EscapeEscape: {
        const bool doubled = state_ == State::EscapeEscape;
        if (byte == '[' || byte == 'O') {
            StartSequence(byte == '[' ? State::Csi : State::Ss3, doubled);
            return {};
        }
        if (byte == Esc) {
            state_ = State::EscapeEscape;
            return doubled ? One(Key(KeyCode::Escape)) : DecodedKeys{};
        }
        // Alt+key: the terminal sends ESC before the key.
        DecodedKeys keys = doubled ? One(Key(KeyCode::Escape)) : DecodedKeys{};
        DecodedKeys key = Ground(byte);
        for (uint8_t i = 0; i < key.count; ++i)
            key.keys[i].modifiers |= KeyAlt;
        Append(keys, key);
        return keys;
    }

    case State::CsiBracket: {
        state_ = State::Ground;
        if (byte >= 'A' && byte <= 'E')
            return One(Key(static_cast<KeyCode>(static_cast<uint8_t>(KeyCode::F1) + (byte - 'A')), alt_ ? KeyAlt : 0));
        return {};
    }

    case State::Csi:
    case State::Ss3: {
        const bool csi = state_ == State::Csi;
        const bool empty = parameterCount_ == 0 && !malformed_;
        if (byte >= '0' && byte <= '9') {
            parameterCount_ = std::max<uint8_t>(parameterCount_, 1);
            uint32_t& value = parameters_[parameterCount_ - 1];
            if (!subParameter_)
                value = std::min(value * 10 + (byte - '0'), MaxParameterValue);
            return {};
        }
        if (byte == ';' || byte == ':') {
            if (!csi) {
                malformed_ = true;
                return {};
            }
            parameterCount_ = std::max<uint8_t>(parameterCount_, 1);
            if (byte == ':') {
                // kitty's sub-parameters (alternate keys, event type) do not change which key it is.
                subParameter_ = true;
            } else if (parameterCount_ < MaxParameters) {
                subParameter_ = false;
                ++parameterCount_;
            } else {
                malformed_ = true;
            }
            return {};
        }
        if (csi && empty && byte == '[') {
            state_ = State::CsiBracket;
            return {};
        }
        if (byte == Esc) {
            // An unfinished sequence is dropped; a bare "ESC [" was Alt+[ after all.
            DecodedKeys keys = empty && !alt_ ? One(Char(csi ? '[' : 'O', KeyAlt)) : DecodedKeys{};
            state_ = State::Escape;
            return keys;
        }
        if (byte < 0x20 || byte > 0x7E) {
            DecodedKeys keys = empty && !alt_ ? One(Char(csi ? '[' : 'O', KeyAlt)) : DecodedKeys{};
            Append(keys, Ground(byte));
            return keys;
        }
        // rxvt ends Shift+key with "$", which is otherwise an intermediate byte.
        const bool final = byte >= 0x40 || (csi && byte == '$' && parameterCount_ > 0);
        if (!final) {
            malformed_ = true; // private markers and intermediates: a report, not a key
            return {};
        }
        state_ = State::Ground;
        if (malformed_)
            return {};
        std::optional<TerminalKey> key = csi ? FinishCsi(byte) : FinishSs3(byte);
        if (!key)
            return {};
        if (alt_)
            key->modifiers |= KeyAlt;
        return One(*key);
    }
    }
    return {};
}

std::optional<TerminalKey> KeyDecoder::FinishCsi(uint8_t final) const
{
    const uint32_t first = parameterCount_ >= 1 ? parameters_[0] : 0;
    const uint32_t second = parameterCount_ >= 2 ? parameters_[1] : 0;
    switch (final) {
    case '~':
        if (first == 27 && parameterCount_ >= 3) // xterm modifyOtherKeys: ESC [ 27 ; m ; code ~
            return KeyFromCodePoint(parameters_[2], ModifiersFromParameter(second));
        [[fallthrough]];
    case '^':
    case '$':
    case '@': {
        std::optional<KeyCode> code = TildeKey(first);
        if (!code)
            return std::nullopt;
        uint8_t modifiers = ModifiersFromParameter(second);
        if (final == '^' || final == '@')
            modifiers |= KeyCtrl;
        if (final == '$' || final == '@')
            modifiers |= KeyShift;
        return Key(*code, modifiers);
    }
    case 'u':
        if (parameterCount_ == 0)
            return std::nullopt;
        return KeyFromCodePoint(first, ModifiersFromParameter(second));
    case 'Z':
        return Key(KeyCode::Tab, KeyShift);
    case 'a':
    case 'b':
    case 'c':
    case 'd': // rxvt Shift+arrows
        return Key(*LetterKey(static_cast<uint8_t>(final - 'a' + 'A')), KeyShift);
    default:
        break;
    }
    std::optional<KeyCode> code = LetterKey(final);
    if (!code)
        return std::nullopt;
    // "ESC [ 1 ; 5 D" today; some older terminals sent the modifier alone, "ESC [ 5 D".
    const uint32_t modifiers = parameterCount_ >= 2 ? second : first;
    return Key(*code, ModifiersFromParameter(modifiers));
}

std::optional<TerminalKey> KeyDecoder::FinishSs3(uint8_t final) const
{
    const uint8_t modifiers = ModifiersFromParameter(parameterCount_ >= 1 ? parameters_[0] : 0);
    if (final >= 'a' && final <= 'd') // rxvt Ctrl+arrows
        return Key(*LetterKey(static_cast<uint8_t>(final - 'a' + 'A')), KeyCtrl);
    if (final == 'M')
        return Key(KeyCode::Enter, modifiers);
    // The keypad in application mode: "ESC O j" is "*" up to "ESC O y" for "9".
    if (final >= 'j' && final <= 'y')
        return Char(static_cast<char32_t>("*+,-./0123456789"[final - 'j']), modifiers);
    if (final == 'X')
        return Char('=', modifiers);
    if (std::optional<KeyCode> code = LetterKey(final))
        return Key(*code, modifiers);
    return std::nullopt;
}

DecodedKeys KeyDecoder::Flush()
{
    const State state = state_;
    const bool empty = parameterCount_ == 0 && !malformed_;
    state_ = State::Ground;
    switch (state) {
    case State::Escape:
        return One(Key(KeyCode::Escape));
    case State::EscapeEscape: {
        DecodedKeys keys = One(Key(KeyCode::Escape));
        Append(keys, One(Key(KeyCode::Escape)));
        return keys;
    }
    case State::Csi:
    case State::Ss3: {
        if (!empty)
            return {}; // a sequence cut off: nothing a user pressed on purpose
        DecodedKeys keys = alt_ ? One(Key(KeyCode::Escape)) : DecodedKeys{};
        Append(keys, One(Char(state == State::Csi ? '[' : 'O', KeyAlt)));
        return keys;
    }
    default:
        return {};
    }
}

namespace {

struct KeyBinding {
    TerminalKey key;
    KeyAction action;
    const char* label;
};

constexpr KeyAction Do(CommandId command)
{
    return KeyAction{KeyActionKind::Command, ToNumber(command)};
}

// In the order KeyHelpText lists them. Ctrl+[ is the Esc byte on a terminal and so stops; only a
// terminal that sends CSI-u tells it apart. Ctrl+0 usually arrives as a plain "0", which is why "0" is
// also Tempo normal; "-", "+"/"=", "[" and "]" stand in for the other Ctrl and Alt chords.
constexpr KeyBinding Bindings[] = {
    {Char(' '), Do(CommandId::PauseUnpause), "Space"},
    {Key(KeyCode::Enter), Do(CommandId::Play), "Enter"},
    {Key(KeyCode::Enter, KeyCtrl), Do(CommandId::Play), "Ctrl+Enter"},
    {Key(KeyCode::Escape), Do(CommandId::Stop), "Esc, Ctrl+["},
    {Key(KeyCode::F7), Do(CommandId::RepeatMeasure), "F7"},
    {Key(KeyCode::F8), Do(CommandId::SkipNextMeasure), "F8"},
    {Key(KeyCode::F11), Do(CommandId::LastVamp), "F11"},
    {Key(KeyCode::Left, KeyCtrl), Do(CommandId::PreviousMeasure), "Ctrl+Left"},
    {Key(KeyCode::Right, KeyCtrl), Do(CommandId::NextMeasure), "Ctrl+Right"},
    {Key(KeyCode::Left), Do(CommandId::PreviousMeasure), "Left"},
    {Key(KeyCode::Right), Do(CommandId::NextMeasure), "Right"},
    {Key(KeyCode::PageUp, KeyCtrl), Do(CommandId::GotoPreviousCue), "Ctrl+PgUp"},
    {Key(KeyCode::PageDown, KeyCtrl), Do(CommandId::GotoNextCue), "Ctrl+PgDn"},
    {Key(KeyCode::PageUp), Do(CommandId::GotoPreviousCue), "PgUp"},
    {Key(KeyCode::PageDown), Do(CommandId::GotoNextCue), "PgDn"},
    {Key(KeyCode::Home, KeyCtrl), Do(CommandId::GotoBeginning), "Ctrl+Home"},
    {Key(KeyCode::End, KeyCtrl), Do(CommandId::GotoEnd), "Ctrl+End"},
    {Key(KeyCode::Up, KeyCtrl), Do(CommandId::PreviousNote), "Ctrl+Up"},
    {Key(KeyCode::Down, KeyCtrl), Do(CommandId::NextNote), "Ctrl+Down"},
    {Char('0', KeyCtrl), Do(CommandId::TempoNormal), "Ctrl+0"},
    {Char('0'), Do(CommandId::TempoNormal), "0"},
    {Char('[', KeyCtrl), Do(CommandId::TempoSlower), "Ctrl+[ (CSI-u)"},
    {Char('-'), Do(CommandId::TempoSlower), "-"},
    {Char(']', KeyCtrl), Do(CommandId::TempoFaster), "Ctrl+]"},
    {Char('+'), Do(CommandId::TempoFaster), "+"},
    {Char('='), Do(CommandId::TempoFaster), "="},
    {Char('0', KeyAlt), Do(CommandId::VolumeFull), "Alt+0"},
    {Char('[', KeyAlt), Do(CommandId::VolumeDown), "Alt+["},
    {Char(']', KeyAlt), Do(CommandId::VolumeUp), "Alt+]"},
    {Char('['), Do(CommandId::VolumeDown), "["},
    {Char(']'), Do(CommandId::VolumeUp), "]"},
    {Key(KeyCode::F10), Do(CommandId::ResetMidi), "F10"},
    {Key(KeyCode::F12), Do(CommandId::FreeStuckNotes), "F12"},
    {Char('?'), KeyAction{KeyActionKind::ShowKeys, 0}, "?"},
    {Key(KeyCode::F1), KeyAction{KeyActionKind::ShowKeys, 0}, "F1"},
    {Char('q'), KeyAction{KeyActionKind::Quit, 0}, "q"},
    {Char('Q'), KeyAction{KeyActionKind::Quit, 0}, "Q"},
};

// Performing a set: these come first, so a pedal's PgDn goes to the next song.
constexpr KeyBinding SetBindings[] = {
    {Key(KeyCode::PageDown), Do(CommandId::NextSong), "PgDn"},
    {Key(KeyCode::PageUp), Do(CommandId::PreviousSong), "PgUp"},
    {Key(KeyCode::F6, KeyCtrl), Do(CommandId::RevertToPreviousSong), "Ctrl+F6"},
    {Char('l'), KeyAction{KeyActionKind::ShowSet, 0}, "l"},
};

} // namespace

std::optional<KeyAction> ActionForKey(const TerminalKey& key, bool set)
{
    TerminalKey wanted = key;
    // A character already says whether Shift was down ("?" is Shift+/), so Shift itself is not matched.
    if (wanted.code == KeyCode::Character)
        wanted.modifiers &= static_cast<uint8_t>(~KeyShift);
    if (set)
        for (const KeyBinding& binding : SetBindings)
            if (binding.key == wanted)
                return binding.action;
    for (const KeyBinding& binding : Bindings)
        if (binding.key == wanted)
            return binding.action;
    return std::nullopt;
}

std::optional<uint16_t> CommandForKey(const TerminalKey& key)
{
    std::optional<KeyAction> action = ActionForKey(key);
    if (!action || action->kind != KeyActionKind::Command)
        return std::nullopt;
    return action->command;
}

std::string KeyHelpText(bool set, std::span<const AccelEntry> map)
{
    std::string text;
    // An active map of the user's own comes first, as it does when a key is pressed.
    for (const AccelEntry& entry : map) {
        std::string label = ShortcutText(entry);
        label.resize(std::max(label.size() + 1, size_t{16}), ' ');
        text += "  " + label + FunctionName(entry.command) + "\n";
    }
    auto add = [&text](const KeyBinding& binding) {
        std::string label = binding.label;
        label.resize(std::max(label.size() + 1, size_t{16}), ' ');
        std::string name;
        switch (binding.action.kind) {
        case KeyActionKind::Command:
            name = FunctionName(binding.action.command);
            break;
        case KeyActionKind::ShowKeys:
            name = "Show these keys";
            break;
        case KeyActionKind::ShowSet:
            name = "List the set";
            break;
        case KeyActionKind::Quit:
            name = "Quit";
            break;
        }
        text += "  " + label + name + "\n";
    };
    if (set)
        for (const KeyBinding& binding : SetBindings)
            add(binding);
    for (const KeyBinding& binding : Bindings) {
        // A set's own binding of the same key stands above; the shadowed one is not listed.
        const bool shadowed = set && std::any_of(std::begin(SetBindings), std::end(SetBindings),
                                                 [&](const KeyBinding& own) { return own.key == binding.key; });
        if (!shadowed)
            add(binding);
    }
    return text;
}

namespace {

// Terminal keys with a virtual key of their own (VK_RETURN, VK_PRIOR, ...).
constexpr std::pair<KeyCode, uint16_t> NamedVirtualKeys[] = {
    {KeyCode::Enter, 0x0D},  {KeyCode::Escape, 0x1B}, {KeyCode::Tab, 0x09},    {KeyCode::Backspace, 0x08},
    {KeyCode::Up, 0x26},     {KeyCode::Down, 0x28},   {KeyCode::Left, 0x25},   {KeyCode::Right, 0x27},
    {KeyCode::Home, 0x24},   {KeyCode::End, 0x23},    {KeyCode::PageUp, 0x21}, {KeyCode::PageDown, 0x22},
    {KeyCode::Insert, 0x2D}, {KeyCode::Delete, 0x2E}, {KeyCode::F1, 0x70},     {KeyCode::F2, 0x71},
    {KeyCode::F3, 0x72},     {KeyCode::F4, 0x73},     {KeyCode::F5, 0x74},     {KeyCode::F6, 0x75},
    {KeyCode::F7, 0x76},     {KeyCode::F8, 0x77},     {KeyCode::F9, 0x78},     {KeyCode::F10, 0x79},
    {KeyCode::F11, 0x7A},    {KeyCode::F12, 0x7B},
};

// Characters on a key of their own (US layout): the unshifted character names the key.
constexpr std::pair<char, uint16_t> PunctuationVirtualKeys[] = {
    {' ', 0x20}, {';', 0xBA}, {'=', 0xBB}, {',', 0xBC},  {'-', 0xBD}, {'.', 0xBE},
    {'/', 0xBF}, {'`', 0xC0}, {'[', 0xDB}, {'\\', 0xDC}, {']', 0xDD}, {'\'', 0xDE},
};

uint8_t AccelModifiers(uint8_t modifiers)
{
    return static_cast<uint8_t>(AccelVirtualKey | ((modifiers & KeyShift) ? AccelShift : 0) |
                                ((modifiers & KeyCtrl) ? AccelCtrl : 0) | ((modifiers & KeyAlt) ? AccelAlt : 0));
}

} // namespace

std::optional<VirtualKeyPress> VirtualKeyForTerminalKey(const TerminalKey& key)
{
    if (key.modifiers & KeySuper)
        return std::nullopt;
    uint8_t flags = AccelModifiers(key.modifiers);
    if (key.code != KeyCode::Character) {
        for (const auto& [code, virtualKey] : NamedVirtualKeys)
            if (code == key.code)
                return VirtualKeyPress{flags, virtualKey};
        return std::nullopt;
    }
    char32_t c = key.character;
    // A letter names its key; an upper-case one was typed with Shift.
    if (c >= 'a' && c <= 'z')
        return VirtualKeyPress{flags, static_cast<uint16_t>(c - 'a' + 'A')};
    if (c >= 'A' && c <= 'Z')
        return VirtualKeyPress{static_cast<uint8_t>(flags | AccelShift), static_cast<uint16_t>(c)};
    if (c >= '0' && c <= '9')
        return VirtualKeyPress{flags, static_cast<uint16_t>(c)};
    for (const auto& [character, virtualKey] : PunctuationVirtualKeys)
        if (static_cast<char32_t>(character) == c)
            return VirtualKeyPress{flags, virtualKey};
    return std::nullopt;
}

std::optional<TerminalKey> TerminalKeyForVirtualKey(uint8_t flags, uint16_t virtualKey)
{
    if (!(flags & AccelVirtualKey))
        return std::nullopt;
    const uint8_t modifiers =
        static_cast<uint8_t>(((flags & AccelShift) ? KeyShift : 0) | ((flags & AccelCtrl) ? KeyCtrl : 0) |
                             ((flags & AccelAlt) ? KeyAlt : 0));
    for (const auto& [code, vk] : NamedVirtualKeys)
        if (vk == virtualKey)
            return TerminalKey{code, 0, modifiers};
    char32_t c = 0;
    if (virtualKey >= 'A' && virtualKey <= 'Z')
        c = (flags & AccelShift) ? virtualKey : virtualKey - 'A' + 'a';
    else if (virtualKey >= '0' && virtualKey <= '9')
        c = virtualKey;
    for (const auto& [character, vk] : PunctuationVirtualKeys)
        if (vk == virtualKey)
            c = static_cast<char32_t>(character);
    if (c == 0)
        return std::nullopt;
    // A character carries Shift in itself only for letters; Ctrl+digit never reaches a program.
    if ((flags & AccelCtrl) && c >= '0' && c <= '9')
        return std::nullopt;
    return TerminalKey{KeyCode::Character, c,
                       static_cast<uint8_t>(modifiers & ~((c >= 'A' && c <= 'Z') ? KeyShift : 0))};
}

std::optional<KeyAction> ActionForKey(const TerminalKey& key, bool set, const std::vector<AccelEntry>& map)
{
    if (const std::optional<VirtualKeyPress> press = VirtualKeyForTerminalKey(key))
        if (const std::optional<uint16_t> command = FindAccelCommand(map, press->flags, press->virtualKey))
            return KeyAction{KeyActionKind::Command, *command};
    return ActionForKey(key, set);
}

} // namespace cantivo
