#include "rig/TerminalPrompter.h"

namespace cantivo {

namespace {

const char* YesWord(PromptButtons buttons)
{
    return buttons == PromptButtons::OkCancel ? "OK" : "Yes";
}
const char* NoWord(PromptButtons buttons)
{
    return buttons == PromptButtons::OkCancel ? "Cancel" : "No";
}

} // namespace

void TerminalPrompter::Show(const std::string& text, PromptIcon icon)
{
    if (icon == PromptIcon::Warning)
        out_ << "Warning: ";
    out_ << text << '\n' << std::flush;
}

bool TerminalPrompter::Ask(const std::string& text, PromptButtons buttons, PromptIcon)
{
    out_ << text << '\n';
    switch (preset_) {
    case PromptAnswer::Yes:
        out_ << "  -> " << YesWord(buttons) << " (--yes)\n" << std::flush;
        return true;
    case PromptAnswer::No:
        out_ << "  -> " << NoWord(buttons) << " (--no)\n" << std::flush;
        return false;
    case PromptAnswer::NotAsked:
        break;
    }
    out_ << "  -> " << NoWord(buttons) << ", the safe answer; pass --yes to answer " << YesWord(buttons) << ".\n"
         << std::flush;
    return false;
}

PromptAnswer TerminalPrompter::AskOrDecline(const std::string& text, PromptButtons buttons, PromptIcon icon)
{
    if (preset_ != PromptAnswer::NotAsked)
        return Ask(text, buttons, icon) ? PromptAnswer::Yes : PromptAnswer::No;
    out_ << text << '\n'
         << "  -> Not answered, and no file was changed. Pass --yes to answer " << YesWord(buttons)
         << " or --no to answer " << NoWord(buttons) << ".\n"
         << std::flush;
    return PromptAnswer::NotAsked;
}

} // namespace cantivo
