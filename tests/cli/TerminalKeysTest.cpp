#include "cli/TerminalKeys.h"
#include "cli/RawTerminal.h"

#include "app/AccelMap.h"
#include "app/CommandTable.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

namespace cantivo {
namespace {

constexpr KeyAction Do(CommandId command)
{
    return KeyAction{KeyActionKind::Command, ToNumber(command)};
}
constexpr KeyAction ShowKeys{KeyActionKind::ShowKeys, 0};
constexpr KeyAction Quit{KeyActionKind::Quit, 0};

std::vector<TerminalKey> DecodeAll(KeyDecoder& decoder, std::string_view bytes)
{
    std::vector<TerminalKey> keys;
    decoder.Feed(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                 [&](const TerminalKey& key) { keys.push_back(key); });
    return keys;
}

// Feeds the bytes in two reads split at `split`, then flushes as after a quiet pause.
std::vector<TerminalKey> Decode(std::string_view bytes, size_t split)
{
    KeyDecoder decoder;
    std::vector<TerminalKey> keys = DecodeAll(decoder, bytes.substr(0, split));
    for (const TerminalKey& key : DecodeAll(decoder, bytes.substr(split)))
        keys.push_back(key);
    for (const TerminalKey& key : decoder.Flush())
        keys.push_back(key);
    EXPECT_FALSE(decoder.Pending());
    return keys;
}

std::vector<KeyAction> Actions(const std::vector<TerminalKey>& keys)
{
    std::vector<KeyAction> actions;
    for (const TerminalKey& key : keys)
        if (std::optional<KeyAction> action = ActionForKey(key))
            actions.push_back(*action);
    return actions;
}

struct ActionCase {
    const char* bytes;
    std::vector<KeyAction> actions;
};

TEST(KeyDecoder, TerminalBytesIssueTheirCommandsWhereverTheReadsSplit)
{
    const ActionCase cases[] = {
        {" ", {Do(CommandId::PauseUnpause)}},
        {"\r", {Do(CommandId::Play)}},
        {"\n", {Do(CommandId::Play)}},
        {"\x1b[13;5u", {Do(CommandId::Play)}},
        {"\x1b", {Do(CommandId::Stop)}},
        {"\x1b\x1b", {Do(CommandId::Stop), Do(CommandId::Stop)}},
        {"\x1b[1;5D", {Do(CommandId::PreviousMeasure)}},
        {"\x1b[1;5C", {Do(CommandId::NextMeasure)}},
        {"\x1b[D", {Do(CommandId::PreviousMeasure)}},
        {"\x1bOC", {Do(CommandId::NextMeasure)}},
        {"\x1bOd", {Do(CommandId::PreviousMeasure)}},
        {"\x1b[5;5~", {Do(CommandId::GotoPreviousCue)}},
        {"\x1b[6;5~", {Do(CommandId::GotoNextCue)}},
        {"\x1b[5^", {Do(CommandId::GotoPreviousCue)}},
        {"\x1b[5~", {Do(CommandId::GotoPreviousCue)}},
        {"\x1b[6~", {Do(CommandId::GotoNextCue)}},
        {"\x1b[1;5H", {Do(CommandId::GotoBeginning)}},
        {"\x1b[1;5F", {Do(CommandId::GotoEnd)}},
        {"\x1b[1;5A", {Do(CommandId::PreviousNote)}},
        {"\x1b[1;5B", {Do(CommandId::NextNote)}},
        {"\x1b[18~", {Do(CommandId::RepeatMeasure)}},
        {"\x1b[19~", {Do(CommandId::SkipNextMeasure)}},
        {"\x1b[21~", {Do(CommandId::ResetMidi)}},
        {"\x1b[23~", {Do(CommandId::LastVamp)}},
        {"\x1b[24~", {Do(CommandId::FreeStuckNotes)}},
        {"\x1d", {Do(CommandId::TempoFaster)}},
        {"\x1b[93;5u", {Do(CommandId::TempoFaster)}},
        {"\x1b[91;5u", {Do(CommandId::TempoSlower)}},
        {"\x1b[48;5u", {Do(CommandId::TempoNormal)}},
        {"\x1b[27;5;48~", {Do(CommandId::TempoNormal)}},
        {"0-+=",
         {Do(CommandId::TempoNormal), Do(CommandId::TempoSlower), Do(CommandId::TempoFaster),
          Do(CommandId::TempoFaster)}},
        {"\x1b"
         "0",
         {Do(CommandId::VolumeFull)}},
        {"\x1b]", {Do(CommandId::VolumeUp)}},
        {"\x1b[", {Do(CommandId::VolumeDown)}}, // Alt+[, known once the pause is over
        {"[]", {Do(CommandId::VolumeDown), Do(CommandId::VolumeUp)}},
        {"?", {ShowKeys}},
        {"\x1b[27;2;63~", {ShowKeys}},
        {"\x1bOP", {ShowKeys}},
        {"q", {Quit}},
        // Unknown sequences and keys with nothing to do are swallowed whole; the next key still counts.
        {"\x1b[?1;2c ", {Do(CommandId::PauseUnpause)}},
        {"\x1b[<0;10;20M\r", {Do(CommandId::Play)}},
        {"\x1b[99~\x1b[6~", {Do(CommandId::GotoNextCue)}},
        {"\x1b[57399u ", {Do(CommandId::PauseUnpause)}},
        {"\x1b[1;2D\x1b[1;3C\x1b[1;9D\x1b[H", {}},
        {"\xc3\xa9 ", {Do(CommandId::PauseUnpause)}},
        // A sequence cut off by Enter or by a new sequence: only the complete keys count.
        {"\x1b[1;5\r", {Do(CommandId::Play)}},
        {"\x1b[1;5\x1b[6~", {Do(CommandId::GotoNextCue)}},
        {"\x1b[D\x1b", {Do(CommandId::PreviousMeasure), Do(CommandId::Stop)}},
    };
    for (const ActionCase& test : cases) {
        const std::string_view bytes = test.bytes;
        for (size_t split = 0; split <= bytes.size(); ++split)
            EXPECT_EQ(Actions(Decode(bytes, split)), test.actions)
                << "bytes " << testing::PrintToString(bytes) << " split at " << split;
    }
}

struct KeyCase {
    const char* bytes;
    std::vector<TerminalKey> keys;
};

TEST(KeyDecoder, SequencesBecomeOneKeyWithItsModifiers)
{
    auto key = [](KeyCode code, uint8_t modifiers = 0) { return TerminalKey{code, 0, modifiers}; };
    auto character = [](char32_t c, uint8_t modifiers = 0) { return TerminalKey{KeyCode::Character, c, modifiers}; };
    const KeyCase cases[] = {
        {"\x1b[1;2D", {key(KeyCode::Left, KeyShift)}},
        {"\x1b[1;8A", {key(KeyCode::Up, KeyShift | KeyAlt | KeyCtrl)}},
        {"\x1b[1;5D", {key(KeyCode::Left, KeyCtrl)}},
        {"\x1b[5D", {key(KeyCode::Left, KeyCtrl)}},
        {"\x1b\x1b[D", {key(KeyCode::Left, KeyAlt)}},
        {"\x1b[1;9D", {key(KeyCode::Left, KeySuper)}},
        {"\x1b[1;69D", {key(KeyCode::Left, KeyCtrl)}}, // Caps Lock is no modifier
        {"\x1b[H\x1bOH\x1b[1~\x1b[7~",
         {key(KeyCode::Home), key(KeyCode::Home), key(KeyCode::Home), key(KeyCode::Home)}},
        {"\x1b[F\x1bOF\x1b[4~", {key(KeyCode::End), key(KeyCode::End), key(KeyCode::End)}},
        {"\x1b[[A\x1b[[E", {key(KeyCode::F1), key(KeyCode::F5)}},
        {"\x1b[15;2~", {key(KeyCode::F5, KeyShift)}},
        {"\x1b[3$", {key(KeyCode::Delete, KeyShift)}},
        {"\x1b[Z", {key(KeyCode::Tab, KeyShift)}},
        {"\x1bOM\x1bOk", {key(KeyCode::Enter), character('+')}},
        {"\x01\x1c\x1d\t\x7f",
         {character('a', KeyCtrl), character('\\', KeyCtrl), character(']', KeyCtrl), key(KeyCode::Tab),
          key(KeyCode::Backspace)}},
        {"\x1bx\x1b\r", {character('x', KeyAlt), key(KeyCode::Enter, KeyAlt)}},
        {"\x1b\x1bx", {key(KeyCode::Escape), character('x', KeyAlt)}},
        {"\x1b\x1b\x1b", {key(KeyCode::Escape), key(KeyCode::Escape), key(KeyCode::Escape)}},
        {"\x1bO", {character('O', KeyAlt)}},
        {"\x1b[27u\x1b[13;3u", {key(KeyCode::Escape), key(KeyCode::Enter, KeyAlt)}},
        {"\x1b[97:65;6u", {character('a', KeyShift | KeyCtrl)}},
        {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\xb9", {character(0xE9), character(0x20AC), character(0x1F3B9)}},
        {"\xe2\x82x\x80\xff", {character('x')}},
        {"\x1b[999999999999999~\x1b[1;2;3;4;5D\x1b[200~\x1b[I", {}},
    };
    for (const KeyCase& test : cases) {
        const std::string_view bytes = test.bytes;
        for (size_t split = 0; split <= bytes.size(); ++split)
            EXPECT_EQ(Decode(bytes, split), test.keys)
                << "bytes " << testing::PrintToString(bytes) << " split at " << split;
    }
}

TEST(KeyDecoder, ALoneEscWaitsForThePause)
{
    KeyDecoder decoder;
    EXPECT_TRUE(decoder.Feed(0x1b).empty());
    EXPECT_TRUE(decoder.Pending());
    const DecodedKeys keys = decoder.Flush();
    ASSERT_EQ(keys.count, 1);
    EXPECT_EQ(CommandForKey(keys.keys[0]), ToNumber(CommandId::Stop));
    EXPECT_FALSE(decoder.Pending());
    EXPECT_TRUE(decoder.Flush().empty());
}

TEST(KeyHelpText, ListsEveryKeyWithTheNameOfItsCommand)
{
    const std::string text = KeyHelpText();
    for (const char* line :
         {"  Space           Pause/un-pause\n", "  PgDn            Goto next cue\n", "  Ctrl+]          Tempo faster\n",
          "  Alt+0           Volume full\n", "  F12             Free stuck notes\n",
          "  ?               Show these keys\n", "  q               Quit\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "missing from\n" << text;
    // The active map's own keys head the list.
    const AccelEntry own{static_cast<uint8_t>(AccelCtrl | AccelVirtualKey), 0x70, ToNumber(CommandId::LastVamp)};
    const std::string withMap = KeyHelpText(false, std::vector<AccelEntry>{own});
    EXPECT_EQ(withMap.rfind("  " + ShortcutText(own), 0), 0u) << withMap;
    EXPECT_NE(withMap.find("Last vamp"), std::string::npos);
}

struct Pty {
    int master = -1;
    int slave = -1;
    Pty() { EXPECT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0); }
    ~Pty()
    {
        close(master);
        close(slave);
    }
    termios Mode() const
    {
        termios mode{};
        EXPECT_EQ(tcgetattr(slave, &mode), 0);
        return mode;
    }
};

void ExpectSameMode(const termios& actual, const termios& expected)
{
    EXPECT_EQ(actual.c_iflag, expected.c_iflag);
    EXPECT_EQ(actual.c_oflag, expected.c_oflag);
    EXPECT_EQ(actual.c_lflag, expected.c_lflag);
    EXPECT_EQ(actual.c_cc[VMIN], expected.c_cc[VMIN]);
    EXPECT_EQ(actual.c_cc[VTIME], expected.c_cc[VTIME]);
}

TEST(RawTerminal, RawWhileAliveAndRestoredAfter)
{
    Pty pty;
    const termios before = pty.Mode();
    ASSERT_TRUE(before.c_lflag & ICANON);
    {
        RawTerminal guard(pty.slave);
        ASSERT_TRUE(guard.Active());
        const termios raw = pty.Mode();
        EXPECT_FALSE(raw.c_lflag & (ICANON | ECHO));
        EXPECT_TRUE(raw.c_lflag & ISIG) << "Ctrl+C must still stop playback";
        EXPECT_FALSE(raw.c_iflag & (IXON | ICRNL));
        EXPECT_TRUE(raw.c_oflag & OPOST) << "output keeps its line endings";
        RawTerminal second(pty.slave);
        EXPECT_FALSE(second.Active());
    }
    ExpectSameMode(pty.Mode(), before);
}

TEST(RawTerminal, DoesNothingWithoutATerminal)
{
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    {
        TerminalControl control(pipeFds[0]);
        EXPECT_FALSE(control.Active());
        ASSERT_EQ(write(pipeFds[1], " ", 1), 1);
        EXPECT_EQ(control.Poll(10), std::nullopt) << "a pipe is not read";
    }
    close(pipeFds[0]);
    close(pipeFds[1]);
}

// The mode is restored however the program ends, even when it crashes.
TEST(RawTerminal, RestoredWhenTheProgramExitsOrCrashes)
{
    enum class Ending { Exit, Abort, Segfault, FloatingPoint };
    for (Ending ending : {Ending::Exit, Ending::Abort, Ending::Segfault, Ending::FloatingPoint}) {
        SCOPED_TRACE("ending " + std::to_string(static_cast<int>(ending)));
        Pty pty;
        const termios before = pty.Mode();
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDERR_FILENO);
            RawTerminal guard(pty.slave);
            if (!guard.Active() || (pty.Mode().c_lflag & ICANON))
                _exit(3);
            switch (ending) {
            case Ending::Exit:
                std::exit(0);
            case Ending::Abort:
                std::abort();
            case Ending::Segfault:
                raise(SIGSEGV);
                break;
            case Ending::FloatingPoint:
                raise(SIGFPE);
                break;
            }
            _exit(4);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (ending == Ending::Exit)
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        else
            EXPECT_FALSE(WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) >= 3)) << status;
        ExpectSameMode(pty.Mode(), before);
    }
}

TEST(TerminalControl, KeysFromTheTerminalBecomeActions)
{
    Pty pty;
    TerminalControl control(pty.slave);
    ASSERT_TRUE(control.Active());
    EXPECT_EQ(control.Poll(0), std::nullopt);

    // Keys with nothing to do are skipped; two keys in one write come out one per call.
    const std::string typed = "x\x1b[6~ ";
    ASSERT_EQ(write(pty.master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    EXPECT_EQ(control.Poll(1000), Do(CommandId::GotoNextCue));
    EXPECT_EQ(control.Poll(1000), Do(CommandId::PauseUnpause));

    // A lone Esc is Stop once the input has been quiet.
    ASSERT_EQ(write(pty.master, "\x1b", 1), 1);
    EXPECT_EQ(control.Poll(1000), Do(CommandId::Stop));
    EXPECT_EQ(control.Poll(20), std::nullopt);
}

TEST(AccelKeys, TerminalKeysAndVirtualKeysTranslateBothWays)
{
    constexpr uint8_t V = AccelVirtualKey;
    const struct {
        TerminalKey key;
        VirtualKeyPress press;
    } cases[] = {
        {{KeyCode::F9, 0, KeyCtrl}, {V | AccelCtrl, 0x78}},
        {{KeyCode::PageDown, 0, 0}, {V, 0x22}},
        {{KeyCode::Enter, 0, KeyAlt}, {V | AccelAlt, 0x0D}},
        {{KeyCode::Character, 'a', KeyCtrl}, {V | AccelCtrl, 'A'}},
        {{KeyCode::Character, 'S', KeyAlt}, {V | AccelAlt | AccelShift, 'S'}},
        {{KeyCode::Character, ' ', 0}, {V, 0x20}},
        {{KeyCode::Character, '/', 0}, {V, 0xBF}},
        {{KeyCode::Character, ']', KeyCtrl}, {V | AccelCtrl, 0xDD}},
        {{KeyCode::Character, '7', 0}, {V, '7'}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VirtualKeyForTerminalKey(c.key), c.press) << ShortcutText({c.press.flags, c.press.virtualKey, 0});
        EXPECT_EQ(TerminalKeyForVirtualKey(c.press.flags, c.press.virtualKey), c.key)
            << ShortcutText({c.press.flags, c.press.virtualKey, 0});
    }
    EXPECT_FALSE(VirtualKeyForTerminalKey({KeyCode::Character, '?', 0}));
    EXPECT_FALSE(VirtualKeyForTerminalKey({KeyCode::F5, 0, KeySuper}));
    EXPECT_FALSE(TerminalKeyForVirtualKey(V | AccelCtrl, '1')); // no terminal sends Ctrl+1
    EXPECT_FALSE(TerminalKeyForVirtualKey(0, 'S'));             // a character entry
}

// The built-in keys are what the "Default" map gives wherever a terminal can send the key; plain Enter
// opens a song in the set view, which a terminal has not, so there it plays like a pedal's Enter.
TEST(AccelKeys, BuiltInKeysFollowTheDefaultMap)
{
    int sent = 0;
    for (const AccelEntry& entry : DefaultAccelEntries()) {
        const std::optional<TerminalKey> key = TerminalKeyForVirtualKey(entry.flags, entry.key);
        const std::optional<KeyAction> action = key ? ActionForKey(*key) : std::nullopt;
        if (!action || action->kind != KeyActionKind::Command || entry.command == ToNumber(CommandId::Go))
            continue;
        ++sent;
        EXPECT_EQ(action->command, entry.command) << ShortcutText(entry);
    }
    EXPECT_GE(sent, 20);
}

TEST(AccelKeys, AnActiveMapComesBeforeTheBuiltInKeys)
{
    const std::vector<AccelEntry> map = {{AccelVirtualKey | AccelCtrl, 0x78, ToNumber(CommandId::NextMeasure)},
                                         {AccelVirtualKey, 0x20, ToNumber(CommandId::Play)}};
    EXPECT_EQ(ActionForKey({KeyCode::F9, 0, KeyCtrl}, false, map), Do(CommandId::NextMeasure));
    EXPECT_EQ(ActionForKey({KeyCode::Character, ' ', 0}, false, map), Do(CommandId::Play));
    EXPECT_EQ(ActionForKey({KeyCode::Escape, 0, 0}, false, map), Do(CommandId::Stop));
    EXPECT_EQ(ActionForKey({KeyCode::Character, 'q', 0}, false, map), Quit);
    EXPECT_EQ(ActionForKey({KeyCode::Character, ' ', 0}), Do(CommandId::PauseUnpause));
}

} // namespace
} // namespace cantivo
