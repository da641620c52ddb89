#pragma once

#include <string>

namespace cantivo {

enum class PromptIcon { Question, Information, Warning, Error };
enum class PromptButtons { YesNo, OkCancel };
// The answer to a question that may go unanswered: a prompter with no one to ask (the command-line
// tool without --yes or --no) declines instead of guessing.
enum class PromptAnswer { Yes, No, NotAsked };

// Every fixed message of the program reaches the user through this: a dialog in the desktop program,
// the terminal in the command-line tool, scripted answers in tests.
class Prompter {
  public:
    virtual ~Prompter() = default;

    // True for Yes / OK.
    virtual bool Ask(const std::string& text, PromptButtons buttons, PromptIcon icon) = 0;
    virtual void Show(const std::string& text, PromptIcon icon) = 0;
    // For a question where both answers change files (the recovery question deletes one file either
    // way): NotAsked means nobody answered, and the caller must then leave every file as it is.
    virtual PromptAnswer AskOrDecline(const std::string& text, PromptButtons buttons, PromptIcon icon)
    {
        return Ask(text, buttons, icon) ? PromptAnswer::Yes : PromptAnswer::No;
    }
};

// Answers every question with the safe answer (No / Cancel), declines the ones where both answers
// change files, and drops messages.
class SilentPrompter final : public Prompter {
  public:
    bool Ask(const std::string&, PromptButtons, PromptIcon) override { return false; }
    void Show(const std::string&, PromptIcon) override {}
    PromptAnswer AskOrDecline(const std::string&, PromptButtons, PromptIcon) override { return PromptAnswer::NotAsked; }
};

} // namespace cantivo
