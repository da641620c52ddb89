#pragma once

#include <QUrl>

#include <functional>
#include <string>

class QDialogButtonBox;
class QPushButton;

namespace cantivo {

// Where a Help button sends its address: the desktop's browser, or what a test puts in its place.
using HelpOpener = std::function<bool(const QUrl&)>;

// Replaces the opener for the whole program; an empty one brings the browser back.
void SetHelpOpener(HelpOpener opener);

// The section of the data folder's help pages that answers `topic` ("::/Cues.htm").
QUrl HelpUrl(const std::string& topic);

// Adds "Help" to `buttons`; a click opens the section for the topic `topic` names at that moment.
QPushButton* AddHelpButton(QDialogButtonBox& buttons, std::function<std::string()> topic);

} // namespace cantivo
