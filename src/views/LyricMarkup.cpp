#include "views/LyricMarkup.h"

#include "song/Song.h"

#include <cctype>
#include <charconv>
#include <vector>

namespace cantivo {
namespace {

// A height beyond this comes from a typing slip, not from a song meant to be sung from.
constexpr int MaxDirectiveHeight = 999;

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

// The directive's closing brace, skipping braces inside a quoted face; npos when it is not closed.
size_t ClosingBrace(std::string_view text, size_t from)
{
    bool quoted = false;
    for (size_t i = from; i < text.size(); ++i) {
        if (text[i] == '"')
            quoted = !quoted;
        else if (text[i] == '}' && !quoted)
            return i;
    }
    return std::string_view::npos;
}

std::optional<LyricFontChange> ParseFontFields(std::string_view fields)
{
    LyricFontChange change;
    std::vector<std::string_view> parts;
    bool quoted = false;
    size_t start = 0;
    for (size_t i = 0; i <= fields.size(); ++i) {
        if (i < fields.size() && fields[i] == '"')
            quoted = !quoted;
        if (i == fields.size() || (fields[i] == ',' && !quoted)) {
            parts.push_back(Trimmed(fields.substr(start, i - start)));
            start = i + 1;
        }
    }
    for (std::string_view field : parts) {
        if (field.empty())
            continue;
        if (field.front() == '"') {
            if (field.size() < 2 || field.back() != '"')
                return std::nullopt;
            if (field.size() > 2)
                change.face = std::string(field.substr(1, field.size() - 2));
            continue;
        }
        if (std::isdigit(static_cast<unsigned char>(field.front())) || field.front() == '-') {
            int height = 0;
            const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), height);
            if (error != std::errc() || end != field.data() + field.size() || height < -MaxDirectiveHeight ||
                height > MaxDirectiveHeight)
                return std::nullopt;
            if (height != 0)
                change.height = height < 0 ? -height : height;
            continue;
        }
        const bool off = field.size() == 2 && field[1] == '-';
        if (field.size() > 2 || (field.size() == 2 && !off))
            return std::nullopt;
        switch (field.front()) {
        case 'b':
            change.bold = !off;
            break;
        case 'i':
            change.italic = !off;
            break;
        case 'u':
            change.underline = !off;
            break;
        case 'h':
            change.highlight = !off;
            break;
        default:
            if (off)
                return std::nullopt;
            switch (field.front()) {
            case 'l':
                change.alignment = LyricAlign::Left;
                break;
            case 'c':
                change.alignment = LyricAlign::Centre;
                break;
            case 'r':
                change.alignment = LyricAlign::Right;
                break;
            case 'a':
                change.alignment = LyricAlign::Automatic;
                break;
            case 'd':
                change.defaults = true;
                break;
            case 'k':
                change.keep = true;
                break;
            default:
                return std::nullopt;
            }
        }
    }
    return change;
}

const std::string* SongTextFor(char letter, const Song& song)
{
    switch (letter) {
    case 't':
        return &song.title;
    case 's':
        return &song.subtitle;
    case 'a':
        return &song.author;
    case 'c':
        return &song.copyright;
    case 'm':
        return &song.memo;
    default:
        return nullptr;
    }
}

} // namespace

LyricMarkup ParseLyricMarkup(std::string_view syllable)
{
    LyricMarkup markup;
    size_t i = 0;
    for (; i < syllable.size(); ++i) {
        const char c = syllable[i];
        if (c == '/' || c == '\n') {
            ++markup.newLines;
        } else if (c == '\r') {
            // A CR LF pair ends one line, as every text file means it.
            ++markup.newLines;
            if (i + 1 < syllable.size() && syllable[i + 1] == '\n')
                ++i;
        } else if (c == '\\') {
            markup.newLines += 2;
        } else if (c == '|') {
            markup.newPage = true;
            markup.newLines = 0;
        } else {
            break;
        }
    }
    markup.newWord = i > 0 || (i < syllable.size() && syllable[i] == ' ');
    while (i + 2 < syllable.size() && syllable[i] == '{' && syllable[i + 2] == ':') {
        const char letter = syllable[i + 1];
        // A face is quoted and may hold a brace; a picture path is taken up to the first one.
        const size_t close = letter == 'f' ? ClosingBrace(syllable, i + 3) : syllable.find('}', i + 3);
        if (close == std::string_view::npos)
            break;
        const std::string_view argument = syllable.substr(i + 3, close - i - 3);
        if (letter == 'b') {
            markup.picture = std::string(argument);
        } else if (letter == 'f') {
            std::optional<LyricFontChange> change = ParseFontFields(argument);
            if (!change)
                break;
            markup.font = std::move(change);
        } else {
            break;
        }
        i = close + 1;
    }
    markup.text = std::string(syllable.substr(i));
    return markup;
}

std::string ExpandLyricEscapes(std::string_view text, const Song& song, const std::array<std::string, 9>& macros)
{
    std::string expanded;
    expanded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%' || i + 1 == text.size()) {
            expanded += text[i];
            continue;
        }
        const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(text[++i])));
        if (letter == '%')
            expanded += '%';
        else if (letter >= '1' && letter <= '9')
            expanded += macros[static_cast<size_t>(letter - '1')];
        else if (const std::string* songText = SongTextFor(letter, song))
            expanded += *songText;
    }
    return expanded;
}

ComposedLyric ComposeLyricMarkup(const LyricEdit& edit)
{
    if (edit.face.find('"') != std::string::npos)
        return {false, {}, "A font name cannot hold a double quote (\")."};
    if (edit.breakKind == LyricBreak::Page && edit.picture.find('}') != std::string::npos)
        return {false, {}, "A background picture path cannot hold a closing brace (})."};
    if (edit.size < -MaxDirectiveHeight || edit.size > MaxDirectiveHeight)
        return {false, {}, "The font size must be from 0 to " + std::to_string(MaxDirectiveHeight) + " pixels."};
    std::string markup;
    switch (edit.breakKind) {
    case LyricBreak::None:
        break;
    case LyricBreak::Word:
        markup += ' ';
        break;
    case LyricBreak::Line:
        markup += '/';
        break;
    case LyricBreak::Paragraph:
        markup += '\\';
        break;
    case LyricBreak::Page:
        markup += '|';
        break;
    }
    if (edit.breakKind == LyricBreak::Page && !edit.picture.empty())
        markup += "{b:" + edit.picture + "}";
    if (edit.breakKind == LyricBreak::Line || edit.breakKind == LyricBreak::Paragraph ||
        edit.breakKind == LyricBreak::Page) {
        std::string fields;
        if (edit.useDefaults)
            fields += "d,";
        switch (edit.alignment) {
        case LyricAlign::Automatic:
            fields += "a,";
            break;
        case LyricAlign::Left:
            fields += "l,";
            break;
        case LyricAlign::Centre:
            fields += "c,";
            break;
        case LyricAlign::Right:
            fields += "r,";
            break;
        }
        fields += edit.bold ? "b," : "b-,";
        fields += edit.italic ? "i," : "i-,";
        fields += edit.underline ? "u," : "u-,";
        fields += edit.highlight ? "h," : "h-,";
        if (!edit.face.empty())
            fields += "\"" + edit.face + "\",";
        if (edit.size != 0)
            fields += std::to_string(edit.size) + ",";
        if (!edit.resetNextLine)
            fields += "k,";
        fields.pop_back();
        markup += "{f:" + fields + "}";
    }
    return {true, markup + edit.text, {}};
}

} // namespace cantivo
