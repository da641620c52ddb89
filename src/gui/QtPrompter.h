#pragma once

#include "song/Prompter.h"

class QWidget;

namespace cantivo {

// Messages and questions as message boxes over the main window. The texts are shown as they stand.
class QtPrompter final : public Prompter {
  public:
    explicit QtPrompter(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }

    bool Ask(const std::string& text, PromptButtons buttons, PromptIcon icon) override;
    void Show(const std::string& text, PromptIcon icon) override;
    PromptAnswer AskOrDecline(const std::string& text, PromptButtons buttons, PromptIcon icon) override;

  private:
    QWidget* parent_;
};

} // namespace cantivo
