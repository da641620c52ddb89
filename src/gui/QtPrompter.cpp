#include "gui/QtPrompter.h"

#include <QApplication>
#include <QMessageBox>

#include <algorithm>
#include <cstdio>

namespace cantivo {

namespace {

QMessageBox::Icon BoxIcon(PromptIcon icon)
{
    switch (icon) {
    case PromptIcon::Question:
        return QMessageBox::Question;
    case PromptIcon::Information:
        return QMessageBox::Information;
    case PromptIcon::Warning:
        return QMessageBox::Warning;
    case PromptIcon::Error:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

// The box a question or message is shown in; the caller runs it.
int RunBox(QWidget* parent, const std::string& text, QMessageBox::StandardButtons buttons, PromptIcon icon,
           QMessageBox::StandardButton safe)
{
    QMessageBox box(BoxIcon(icon), QApplication::applicationDisplayName(), QString::fromStdString(text), buttons,
                    parent);
    box.setObjectName("prompt");
    box.setDefaultButton(safe);
    return box.exec();
}

} // namespace

bool QtPrompter::Ask(const std::string& text, PromptButtons buttons, PromptIcon icon)
{
    if (buttons == PromptButtons::YesNo)
        return RunBox(parent_, text, QMessageBox::Yes | QMessageBox::No, icon, QMessageBox::No) == QMessageBox::Yes;
    return RunBox(parent_, text, QMessageBox::Ok | QMessageBox::Cancel, icon, QMessageBox::Cancel) == QMessageBox::Ok;
}

void QtPrompter::Show(const std::string& text, PromptIcon icon)
{
    // Also on stderr, one line each, so that what a run reported can be read after it (smoke runs, logs).
    std::string line = text;
    std::replace(line.begin(), line.end(), '\n', ' ');
    std::fprintf(stderr, "cantivo: %s\n", line.c_str());
    RunBox(parent_, text, QMessageBox::Ok, icon, QMessageBox::Ok);
}

PromptAnswer QtPrompter::AskOrDecline(const std::string& text, PromptButtons buttons, PromptIcon icon)
{
    // Closing the box with Esc or its close button answers nothing: every file stays as it is.
    const auto yes = buttons == PromptButtons::YesNo ? QMessageBox::Yes : QMessageBox::Ok;
    const auto no = buttons == PromptButtons::YesNo ? QMessageBox::No : QMessageBox::Cancel;
    const int answer = RunBox(parent_, text, yes | no | QMessageBox::Abort, icon, QMessageBox::Abort);
    return answer == yes ? PromptAnswer::Yes : answer == no ? PromptAnswer::No : PromptAnswer::NotAsked;
}

} // namespace cantivo
