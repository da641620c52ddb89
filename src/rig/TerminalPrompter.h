#pragma once

#include "song/Prompter.h"

#include <ostream>

namespace cantivo {

// The command-line tool's prompter: messages and questions go to stderr, and questions are answered
// from --yes / --no, since nobody sits at the terminal of a stage rig or a script. With neither flag a
// plain question gets its safe answer (No / Cancel), and a question where both answers change files
// (the recovery question) is declined, so that nothing is deleted unasked.
class TerminalPrompter final : public Prompter {
  public:
    // `preset` is Yes for --yes, No for --no, NotAsked for neither.
    explicit TerminalPrompter(std::ostream& out, PromptAnswer preset = PromptAnswer::NotAsked)
        : out_(out), preset_(preset)
    {
    }

    void SetPreset(PromptAnswer preset) { preset_ = preset; }

    bool Ask(const std::string& text, PromptButtons buttons, PromptIcon icon) override;
    void Show(const std::string& text, PromptIcon icon) override;
    PromptAnswer AskOrDecline(const std::string& text, PromptButtons buttons, PromptIcon icon) override;

  private:
    std::ostream& out_;
    PromptAnswer preset_;
};

} // namespace cantivo
