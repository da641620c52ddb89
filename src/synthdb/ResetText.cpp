#include "synthdb/ResetText.h"

namespace cantivo {

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1; // lower case is refused too: the stored form is upper case
}

struct Token {
    size_t start;
    size_t length;
};

std::vector<Token> Tokens(const std::string& cleaned)
{
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < cleaned.size()) {
        const size_t end = cleaned.find(' ', i);
        const size_t stop = end == std::string::npos ? cleaned.size() : end;
        if (stop > i)
            tokens.push_back({i, stop - i});
        i = stop + 1;
    }
    return tokens;
}

// The byte a token stands for, or -1 when it may not be sent at its place.
int TokenByte(const std::string& cleaned, const Token& token, bool first, bool last)
{
    if (token.length != 2)
        return -1;
    const int high = HexDigit(cleaned[token.start]);
    const int low = HexDigit(cleaned[token.start + 1]);
    if (high < 0 || low < 0)
        return -1;
    const int value = high * 16 + low;
    if (value <= 0x7F || (value == 0xF0 && first) || (value == 0xF7 && last))
        return value;
    return -1;
}

} // namespace

std::string CleanResetText(const std::string& text)
{
    std::string cleaned;
    for (char c : text) {
        const char next = c == '\r' || c == '\n' || c == '\t' ? ' ' : c;
        if (next == ' ' && (cleaned.empty() || cleaned.back() == ' '))
            continue;
        cleaned += next;
    }
    if (!cleaned.empty() && cleaned.back() == ' ')
        cleaned.pop_back();
    return cleaned;
}

std::optional<ResetTextError> CheckResetText(const std::string& cleaned)
{
    const std::vector<Token> tokens = Tokens(cleaned);
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (TokenByte(cleaned, tokens[i], i == 0, i + 1 == tokens.size()) >= 0)
            continue;
        const std::string token = cleaned.substr(tokens[i].start, tokens[i].length);
        return ResetTextError{token + " is not a valid hex byte (00-7F).  Enter data like 00 4F 22... etc.",
                              tokens[i].start, tokens[i].length};
    }
    return std::nullopt;
}

} // namespace cantivo
