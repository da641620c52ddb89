#pragma once

#include <string>

namespace cantivo {

enum class PromptIcon { Question, Information, Warning, Error };
enum class PromptButtons { YesNo, OkCancel };

// Every fixed message of the program reaches the user through this: a dialog in the desktop program,
// the terminal in the command-line tool, scripted answers in tests.
class Prompter {
public:
    virtual ~Prompter() = default;

    // True for Yes / OK.
    virtual bool Ask(const std::string& text, PromptButtons buttons, PromptIcon icon) = 0;
    virtual void Show(const std::string& text, PromptIcon icon) = 0;
};

// Answers every question with the safe answer (No / Cancel) and drops messages.
class SilentPrompter final : public Prompter {
public:
    bool Ask(const std::string&, PromptButtons, PromptIcon) override { return false; }
    void Show(const std::string&, PromptIcon) override {}
};

} // namespace cantivo
