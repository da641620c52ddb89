// The lyric view's model: markup, syllables and fillers, lines and pages, and what follows the position.
#include "views/LyricViewModel.h"

#include "song/MidiFileReader.h"
#include "song/Song.h"
#include "support/CommandLine.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace cantivo::test {
namespace {

// Every character is half the font height wide and the text is as tall as the font.
class FixedWidth final : public TextMeasure {
  public:
    TextSize Measure(std::string_view text, const LyricFont& font) const override
    {
        return {static_cast<int>(text.size()) * font.height / 2, font.height};
    }
};

using Lyrics = std::vector<std::pair<int32_t, std::string>>;

// A 4/4 song at timebase 120 with the lyrics on track 1 and its end at `end`.
struct LyricSong {
    explicit LyricSong(const Lyrics& lyrics, int32_t end = 960)
    {
        song.NewSongDefaults();
        auto track = std::make_unique<Track>();
        for (const auto& [time, text] : lyrics)
            track->events.push_back(
                SongEvent::Meta(time, 5, reinterpret_cast<const uint8_t*>(text.data()), text.size()));
        song.tracks.insert(song.tracks.end() - 1, std::move(track));
        song.UpdateSongEnd();
        song.songEnd = std::max(song.songEnd, end);
        song.ExtendMeasures();
    }
    LyricViewModel Model(const LyricOptions& options = {}, int width = 400, int height = 400)
    {
        LyricViewModel model;
        model.SetOptions(options);
        model.Rebuild(song, 1);
        model.Layout(width, height, FixedWidth());
        return model;
    }
    TestContext context;
    Song song{context.Context()};
};

std::vector<std::string> Texts(const LyricViewModel& model)
{
    std::vector<std::string> texts;
    for (const LyricItem& item : model.Items())
        texts.push_back(item.IsFiller() ? "~" + std::to_string(item.time) : item.text);
    return texts;
}

TEST(LyricMarkup, BreaksDirectivesAndBadMarkup)
{
    struct Case {
        const char* syllable;
        bool page;
        int lines;
        bool word;
        const char* picture; // null: none
        bool font;
        const char* text;
    } cases[] = {
        {"Hap", false, 0, false, nullptr, false, "Hap"},
        {"/Hap", false, 1, true, nullptr, false, "Hap"},
        {"\\Hap", false, 2, true, nullptr, false, "Hap"},
        {"\r\nHap", false, 1, true, nullptr, false, "Hap"},
        {"//\nx", false, 3, true, nullptr, false, "x"},
        {"|/x", true, 1, true, nullptr, false, "x"},
        {"/|x", true, 0, true, nullptr, false, "x"},
        {" word", false, 0, true, nullptr, false, " word"},
        {"{b:pic.bmp}x", false, 0, false, "pic.bmp", false, "x"},
        {"|{b:}x", true, 0, true, "", false, "x"},
        {"{f:\"A}b\",b}x", false, 0, false, nullptr, true, "x"},
        {"{f:}x", false, 0, false, nullptr, true, "x"},
        {"{f:zz}x", false, 0, false, nullptr, false, "{f:zz}x"},
        {"{f:b}{x:1}y", false, 0, false, nullptr, true, "{x:1}y"},
        {"/{f:b", false, 1, true, nullptr, false, "{f:b"},
        {"{f:99999}x", false, 0, false, nullptr, false, "{f:99999}x"},
        {"{f:\"Arial}x", false, 0, false, nullptr, false, "{f:\"Arial}x"},
        {"{b:a\"b}x", false, 0, false, "a\"b", false, "x"},
        {"x/y", false, 0, false, nullptr, false, "x/y"},
        {"", false, 0, false, nullptr, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.syllable);
        const LyricMarkup markup = ParseLyricMarkup(c.syllable);
        EXPECT_EQ(markup.newPage, c.page);
        EXPECT_EQ(markup.newLines, c.lines);
        EXPECT_EQ(markup.newWord, c.word);
        EXPECT_EQ(markup.picture.has_value(), c.picture != nullptr);
        if (c.picture != nullptr && markup.picture) {
            EXPECT_EQ(*markup.picture, c.picture);
        }
        EXPECT_EQ(markup.font.has_value(), c.font);
        EXPECT_EQ(markup.text, c.text);
    }
}

TEST(LyricMarkup, GarbageOnlyEverLosesMarkupFromTheFront)
{
    // Strings of markup characters in every order: the visible text is always the input's tail, and
    // a whole song of them lays out and follows.
    const std::string alphabet = "/\\|{}:,\"fbkdhi0- x%\r\n";
    uint32_t seed = 12345;
    Lyrics lyrics;
    for (int n = 0; n < 500; ++n) {
        std::string text;
        for (int length = n % 13; length > 0; --length) {
            seed = seed * 1103515245u + 12345u;
            text += alphabet[(seed >> 16) % alphabet.size()];
        }
        const std::string visible = ParseLyricMarkup(text).text;
        ASSERT_TRUE(text.ends_with(visible)) << text;
        lyrics.emplace_back(n * 30, text);
    }
    LyricSong song(lyrics);
    LyricViewModel model = song.Model({}, 120, 100);
    for (int32_t position = -10; position < 16000; position += 97)
        model.Follow(position);
    EXPECT_FALSE(model.Frame(song.song).items.empty());
}

TEST(LyricMarkup, FontFieldsAndTheDialogWritesWhatTheParserReads)
{
    const LyricMarkup markup = ParseLyricMarkup("/{f:d, \"Arial\" ,30,b,i-,u,h-,r,k}Big");
    ASSERT_TRUE(markup.font);
    LyricFontChange expected;
    expected.defaults = true;
    expected.face = "Arial";
    expected.height = 30;
    expected.bold = true;
    expected.italic = false;
    expected.underline = true;
    expected.highlight = false;
    expected.alignment = LyricAlign::Right;
    expected.keep = true;
    EXPECT_EQ(*markup.font, expected);

    LyricEdit edit;
    edit.breakKind = LyricBreak::Page;
    edit.picture = "stage.bmp";
    edit.useDefaults = true;
    edit.alignment = LyricAlign::Centre;
    edit.bold = true;
    edit.face = "Arial";
    edit.size = 30;
    edit.resetNextLine = false;
    edit.text = "Big";
    const ComposedLyric composed = ComposeLyricMarkup(edit);
    ASSERT_TRUE(composed);
    EXPECT_EQ(composed.markup, "|{b:stage.bmp}{f:d,c,b,i-,u-,h,\"Arial\",30,k}Big");
    const LyricMarkup back = ParseLyricMarkup(composed.markup);
    EXPECT_TRUE(back.newPage);
    EXPECT_EQ(back.picture.value_or(""), "stage.bmp");
    ASSERT_TRUE(back.font);
    EXPECT_EQ(back.font->alignment, LyricAlign::Centre);
    EXPECT_TRUE(back.font->keep);
    EXPECT_EQ(back.text, "Big");

    LyricEdit word;
    word.breakKind = LyricBreak::Word;
    word.text = "la";
    EXPECT_EQ(ComposeLyricMarkup(word).markup, " la");

    LyricEdit quoted = edit;
    quoted.face = "A\"B";
    EXPECT_FALSE(ComposeLyricMarkup(quoted));
    LyricEdit braced = edit;
    braced.picture = "a}b.bmp";
    EXPECT_FALSE(ComposeLyricMarkup(braced));
}

TEST(LyricMarkup, Escapes)
{
    TestContext context;
    Song song(context.Context());
    song.title = "Song";
    song.author = "Writer";
    std::array<std::string, 9> macros;
    macros[0] = "one";
    macros[8] = "{f:b}nine";
    const std::pair<const char*, const char*> cases[] = {
        {"%t", "Song"},
        {"%T", "Song"},
        {"%q", ""},
        {"%%", "%"},
        {"100%", "100%"},
        {"a%%b%zc", "a%bc"},
        {"%1 %9", "one {f:b}nine"},
        {"%A!", "Writer!"},
        {"%s%c%m", ""},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(ExpandLyricEscapes(text, song, macros), expected) << text;
}

TEST(LyricViewModel, TitlesAndSkippedTextsAreNoSyllables)
{
    LyricSong lyrics({{0, "@TFirst"}, {0, "@TSecond"}, {0, "@LENG"}, {0, "%t"}, {480, "@TLate"}, {480, "@mail"}});
    lyrics.song.title = "Shown";
    const LyricViewModel model = lyrics.Model();
    EXPECT_EQ(model.Title(), "First\nSecond");
    EXPECT_EQ(Texts(model), (std::vector<std::string>{"Shown", "~240", "@mail", "~720"}));
    const LyricFrame frame = model.Frame(lyrics.song);
    ASSERT_EQ(frame.title.size(), 2u);
    EXPECT_EQ(frame.title[0].text, "First");
    EXPECT_LT(frame.title[0].rect.bottom, frame.title[1].rect.top + 1);
}

TEST(LyricViewModel, NothingToShowWithoutLyricsOrTrack)
{
    LyricSong empty({});
    LyricViewModel model = empty.Model();
    EXPECT_TRUE(model.Items().empty());
    EXPECT_EQ(model.Follow(100).repaint, LyricRect{});
    EXPECT_FALSE(model.Frame(empty.song).ball);
    EXPECT_TRUE(model.Frame(empty.song).items.empty());
    for (int track : {-1, 0, 2, 99}) {
        model.Rebuild(empty.song, track);
        EXPECT_EQ(model.Track(), -1) << track;
    }
    EXPECT_EQ(LyricViewModel::ChooseTrack(empty.song, -1, 1), 1);
    EXPECT_EQ(LyricViewModel::ChooseTrack(empty.song, 0, 1), -1);
}

TEST(LyricViewModel, FillersFallOnClicksTwoClicksFromTheSyllables)
{
    struct Case {
        const char* name;
        Lyrics lyrics;
        int32_t end;
        uint8_t numerator, denominator, clocks;
        std::vector<std::string> expected;
    } cases[] = {
        {"eight beats apart",
         {{0, "a"}, {960, "b"}},
         960,
         4,
         4,
         24,
         {"a", "~240", "~360", "~480", "~600", "~720", "b"}},
        {"two beats is no gap", {{0, "a"}, {240, "b"}}, 240, 4, 4, 24, {"a", "b"}},
        {"before the first", {{600, "a"}}, 600, 4, 4, 24, {"~0", "~120", "~240", "~360", "a"}},
        {"up to the end", {{0, "a"}}, 720, 4, 4, 24, {"a", "~240", "~360", "~480"}},
        {"dotted clicks in 6/8",
         {{0, "a"}, {1440, "b"}},
         1440,
         6,
         8,
         36,
         {"a", "~360", "~540", "~720", "~900", "~1080", "b"}},
        {"a zero click is a tick", {{0, "a"}, {250, "b"}}, 250, 4, 4, 0, {"a", "~2", "~3"}},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        LyricSong lyrics(c.lyrics, c.end);
        lyrics.song.songEnd = c.end;
        for (Measure& measure : lyrics.song.measures) {
            measure.numerator = c.numerator;
            measure.denominator = c.denominator;
            measure.clocksPerClick = c.clocks;
        }
        lyrics.song.RelayMeasures();
        lyrics.song.ExtendMeasures();
        std::vector<std::string> texts = Texts(lyrics.Model());
        if (c.clocks == 0) // one filler per tick: only the ends matter
            texts = {texts[0], texts[1], texts[2]};
        EXPECT_EQ(texts, c.expected);
    }
}

TEST(LyricViewModel, PageWithPictureAndFontReturnsToBaseAtNextLine)
{
    for (const char* keep : {"", ",k"}) {
        SCOPED_TRACE(keep);
        LyricSong lyrics(
            {{0, "one"}, {120, std::string("|{b:stage.bmp}{f:\"Arial\",40,b,c") + keep + "}Big"}, {240, "/next"}});
        const LyricViewModel model = lyrics.Model();
        ASSERT_EQ(model.Pages().size(), 2u);
        EXPECT_EQ(model.Pages()[1].picture, "stage.bmp");
        EXPECT_EQ(model.Pages()[1].firstItem, 1);
        const LyricItem& big = model.Items()[1];
        EXPECT_EQ(big.page, 1);
        EXPECT_EQ(big.drawFont, (LyricFont{"Arial", 40, 700, false, false}));
        // Centred: (400 - 50 - 60 - 16) / 2 to the right of the line start.
        EXPECT_EQ(big.rect.left, 58 + 137);
        const LyricItem& next = model.Items()[2];
        EXPECT_EQ(next.drawFont == big.drawFont, *keep != '\0');
        EXPECT_EQ(next.rect.left == 58, *keep == '\0');
        // The taller line pushes the next one down by its own height.
        EXPECT_EQ(next.rect.top - big.rect.top, 40 * 5 / 4 + 4 + LyricBallRoom);
    }
}

TEST(LyricViewModel, WordsWrapAndOverWideWordsBreakBetweenSyllables)
{
    // 12 pixels a character at the base height 24; lines start at 58, the window is 200 wide.
    struct Case {
        const char* name;
        Lyrics lyrics;
        std::vector<int> lines; // line of each syllable, counted from the first
        std::vector<int> lefts;
    } cases[] = {
        {"fits", {{0, "ab "}, {10, "cd"}}, {0, 0}, {58, 94}},
        {"word goes down whole", {{0, "abcdefg "}, {10, "hi"}, {20, "jk "}}, {0, 1, 1}, {58, 58, 82}},
        {"over-wide word", {{0, "abcdefgh"}, {10, "ijklmnop"}, {20, "q"}}, {0, 1, 1}, {58, 58, 154}},
        {"one syllable wider than the page", {{0, "abcdefghijklmnop "}, {10, "x"}}, {0, 1}, {58, 58}},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        LyricSong lyrics(c.lyrics, 20);
        const LyricViewModel model = lyrics.Model({}, 200, 400);
        std::vector<int> lines, lefts;
        for (const LyricItem& item : model.Items()) {
            if (item.IsFiller())
                continue;
            lines.push_back(item.line - model.Items()[0].line);
            lefts.push_back(item.rect.left);
        }
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(lefts, c.lefts);
    }
}

TEST(LyricViewModel, PrintedAsRunningText)
{
    LyricSong lyrics({{0, "Hap"}, {1, "py "}, {2, "\\birth"}, {3, "day"}, {4, " to"}, {5, "|you "}, {6, "/all"}}, 6);
    EXPECT_EQ(lyrics.Model().PrintText(), "Happy\n\nbirthday to\nyou\nall");
}

TEST(LyricViewModel, PageTurnsByMarkupAndByPagination)
{
    LyricOptions paginate;
    paginate.paginate = true;
    paginate.tool = 1;
    struct Case {
        const char* name;
        Lyrics lyrics;
        LyricOptions options;
        std::vector<int> pages;
    } cases[] = {
        {"page break", {{0, "a"}, {1, "|b"}, {2, "c"}}, {}, {0, 1, 1}},
        {"leading page break leaves no empty page", {{0, "|a"}, {1, "/b"}}, {}, {0, 0}},
        {"no pagination: a tall page", {{0, "a"}, {1, "/b"}, {2, "/c"}, {3, "/d"}}, {}, {0, 0, 0, 0}},
        // Lines of 34 pixels from y = 8 in a window 80 high: the third would start at 76.
        {"pagination", {{0, "a"}, {1, "/b"}, {2, "/c"}, {3, "/d"}}, paginate, {0, 0, 1, 1}},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        LyricSong lyrics(c.lyrics, 3);
        const LyricViewModel model = lyrics.Model(c.options, 400, 80);
        std::vector<int> pages;
        for (const LyricItem& item : model.Items())
            if (!item.IsFiller())
                pages.push_back(item.page);
        EXPECT_EQ(pages, c.pages);
    }

    LyricSong turning({{0, "a"}, {240, "b"}, {480, "|c"}, {720, "d"}}, 720);
    LyricViewModel model = turning.Model();
    const std::pair<int32_t, int> steps[] = {{0, 0}, {479, 0}, {480, 1}, {900, 1}, {100, 0}};
    for (const auto& [position, page] : steps) {
        const int before = model.CurrentPage();
        const LyricUpdate update = model.Follow(position);
        EXPECT_EQ(model.CurrentPage(), page) << position;
        EXPECT_EQ(update.pageChanged, before != page) << position;
    }
}

TEST(LyricViewModel, BouncingBall)
{
    // Two syllables on one line, one on the next page; a tempo change between the first two does not
    // move the ball off the tick midpoint.
    LyricSong lyrics({{100, "ab"}, {300, "cd"}, {500, "|ef"}}, 500);
    lyrics.song.tempoMap.entries.push_back({200, 250000, 0.0});
    lyrics.song.RecomputeTempoTimes();
    LyricViewModel model = lyrics.Model();
    ASSERT_EQ(Texts(model), (std::vector<std::string>{"ab", "cd", "ef"}));
    // "ab" at 58-82 and "cd" at 82-106: centres less 4 are 66 and 90; tops 58.
    struct Case {
        int32_t position;
        int x, y;
    } cases[] = {
        {50, 66, 50},   // before the first syllable: resting on it
        {100, 66, 50},  // landed on "ab"
        {150, 72, 19},  // a quarter of the way: 42 × 0.25 below the peak
        {200, 78, 8},   // the peak half-way in ticks, whatever the tempo
        {300, 90, 50},  // landed on "cd"
        {400, 90, 8},   // the next syllable is on another page: in place
        {500, 66, 50},  // landed on "ef", on the next page
        {9999, 66, 50}, // after the last: at rest
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.position);
        model.Follow(c.position);
        ASSERT_TRUE(model.Ball());
        EXPECT_EQ(model.Ball()->left, c.x);
        EXPECT_EQ(model.Ball()->top, c.y);
    }
    model.Follow(150);
    // At 160 the ball is at 73, 15: the repaint holds the old and the new ball.
    EXPECT_EQ(model.Follow(160).repaint, (LyricRect{72, 15, 81, 27}));
    EXPECT_EQ(model.Follow(160).repaint, LyricRect{});
    EXPECT_TRUE(model.Frame(lyrics.song).ball);
}

TEST(LyricViewModel, HighlightStylesAndSelection)
{
    struct Case {
        const char* name;
        int tool;
        uint32_t backcolor2;
        std::vector<bool> filled;
        std::vector<uint32_t> colours;
    } cases[] = {
        {"syllable", 1, 0x00FFFF, {false, false, false, true, false}, {0, 0, 0, 0x0000FF, 0}},
        {"line", 2, 0x00FFFF, {false, false, true, true, false}, {0, 0, 0x0000FF, 0x0000FF, 0}},
        {"same back colours: text only",
         2,
         0xFFFFFF,
         {false, false, false, false, false},
         {0, 0, 0x0000FF, 0x0000FF, 0}},
        {"object grid", 3, 0x00FFFF, {false, false, false, true, false}, {0, 0, 0, 0, 0}},
        {"ball", 0, 0x00FFFF, {false, false, false, false, false}, {0, 0, 0, 0, 0}},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The last syllable of the second line takes no highlight.
        LyricSong lyrics({{0, "ab "}, {120, "cd"}, {240, "/ef "}, {360, "gh "}, {480, "{f:h-}ij"}}, 480);
        LyricOptions options;
        options.tool = c.tool;
        options.color2 = 0x0000FF;
        options.backcolor2 = c.backcolor2;
        LyricViewModel model = lyrics.Model(options);
        model.Follow(370);
        const LyricFrame frame = model.Frame(lyrics.song);
        ASSERT_EQ(frame.items.size(), 5u);
        for (size_t i = 0; i < 5; ++i) {
            EXPECT_EQ(frame.items[i].fill.has_value(), c.filled[i]) << i;
            EXPECT_EQ(frame.items[i].textColour, c.colours[i]) << i;
            EXPECT_EQ(frame.items[i].edge, c.tool == 3) << i;
        }
        EXPECT_EQ(frame.ball.has_value(), c.tool == 0);
    }

    LyricSong lyrics({{0, "ab "}, {120, "cd"}}, 120);
    LyricViewModel model = lyrics.Model();
    lyrics.song.tracks[1]->events[0].selectionMark = lyrics.song.selectionGeneration;
    const int cd = model.ItemAt(100, 60);
    ASSERT_EQ(cd, 1);
    EXPECT_EQ(model.MarkPending(model.Items()[cd].rect, -1), std::vector<int32_t>{1});
    EXPECT_EQ(model.Frame(lyrics.song).items[0].textColour, LyricSelectedColour);
    EXPECT_EQ(model.MarkPending(model.Items()[0].rect, -1), std::vector<int32_t>{0});
    EXPECT_EQ(model.Frame(lyrics.song).items[0].textColour, 0u);
    EXPECT_EQ(model.ItemAt(5, 60), -1);
}

TEST(LyricViewModel, GutterLabelsAndZoom)
{
    LyricSong lyrics({{0, "a"}, {480, "/b"}, {600, "c"}}, 600);
    const LyricFrame frame = lyrics.Model().Frame(lyrics.song);
    ASSERT_EQ(frame.measureLabels.size(), 2u);
    EXPECT_EQ(frame.measureLabels[0].text, "1:");
    EXPECT_EQ(frame.measureLabels[1].text, "2:");
    EXPECT_EQ(frame.gutter.right, LyricGutterWidth);
    LyricViewModel model = lyrics.Model();
    model.Follow(300);
    EXPECT_TRUE(model.Items()[model.CurrentItem()].IsFiller());
    EXPECT_EQ(model.CurrentSyllable(), 0);

    int height = 24;
    for (int expected : {16, 8, 8}) {
        height = ZoomedLyricFontHeight(height, -1);
        EXPECT_EQ(height, expected);
    }
    EXPECT_EQ(ZoomedLyricFontHeight(-24, 1), 32);
    EXPECT_EQ(LyricFontSizeStatus(32), "Font size=32");
}

TEST(LyricViewModel, PagePictureIsFoundBesideTheSongOrTheDefaultPicture)
{
    namespace fs = std::filesystem;
    TempFolder folder("cantivo-lyric-test");
    for (const char* file : {"song/here.bmp", "pics/default.bmp", "pics/there.bmp"}) {
        fs::create_directories((folder.path / file).parent_path());
        std::ofstream(folder.path / file) << "BM";
    }
    struct Case {
        const char* markup;
        bool graphic;
        fs::path expected; // relative to the folder; empty: none
    } cases[] = {
        {"{b:here.bmp}x", true, "song/here.bmp"},
        {"{b:there.bmp}x", true, "pics/there.bmp"},
        {"{b:absent.bmp}x", true, ""},
        {"x", true, "pics/default.bmp"},
        {"{b:here.bmp}x", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.markup);
        LyricSong lyrics({{0, c.markup}}, 0);
        lyrics.song.folder = (folder.path / "song").string() + "/";
        LyricOptions options;
        options.graphic = c.graphic;
        options.gfxPath = (folder.path / "pics" / "default.bmp").string();
        const std::string picture = lyrics.Model(options).Frame(lyrics.song).picture;
        EXPECT_EQ(fs::path(picture).lexically_normal(),
                  c.expected.empty() ? fs::path() : (folder.path / c.expected).lexically_normal());
    }
}

TEST(LyricViewModel, CorpusKaraokeSong)
{
    const char* variable = std::getenv("CANTIVO_CORPUS");
    const std::filesystem::path file =
        std::filesystem::path(variable && *variable ? variable : CANTIVO_CORPUS_DEFAULT) / "files" / "gen_karaoke.kar";
    if (!std::filesystem::exists(file))
        GTEST_SKIP() << "no corpus file " << file << " (set CANTIVO_CORPUS)";
    TestContext context;
    Song song(context.Context());
    ASSERT_TRUE(ReadSong(song, file.string()));
    LyricViewModel model;
    model.Rebuild(song, 1);
    model.Layout(500, 500, FixedWidth());
    EXPECT_EQ(model.Title(), "Corpus Karaoke\nTest singer");
    std::vector<std::string> words;
    for (const LyricItem& item : model.Items())
        if (!item.IsFiller())
            words.push_back(item.text);
    EXPECT_EQ(words, (std::vector<std::string>{"Hap", "py ", "birth", "day ", "to ", "you ", "Hap", "py ", "birth",
                                               "day ", "to ", "you"}));
    model.Follow(3400);
    ASSERT_GE(model.CurrentItem(), 0);
    const LyricItem& current = model.Items()[model.CurrentItem()];
    EXPECT_EQ(current.text, "py ");
    EXPECT_GT(current.line, model.Items()[0].line);
    EXPECT_EQ(model.Frame(song).items.size(), 12u);
    EXPECT_EQ(model.PrintText(), "Happy birthday to you\nHappy birthday to you");

    // Words kept in track 0 (a format 0 file read whole) are found and shown too.
    song.tracks[0]->events = song.tracks[1]->events;
    song.tracks[1]->events.clear();
    const int track = LyricViewModel::ChooseTrack(song, -1, 1);
    EXPECT_EQ(track, 0);
    model.Rebuild(song, track);
    EXPECT_EQ(model.Items().size() >= 12u, true);
}

} // namespace
} // namespace cantivo::test
