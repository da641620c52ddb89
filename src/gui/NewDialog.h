#pragma once

#include "set/CLiveDoc.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QListWidget;

namespace cantivo {

// "New...": a new set, an empty song, a copy of the clipboard's song or a template, with its name and
// location. The document makes it; a refusal shows its message and the dialog stays.
class NewDialog final : public QDialog {
    Q_OBJECT
  public:
    NewDialog(const std::vector<std::string>& choices, int initialChoice, const std::string& location, bool setOpen,
              QWidget* parent = nullptr);
    NewRequest Request() const;

  private:
    QListWidget* choices_;
    QCheckBox* addToSet_;
    QLineEdit* name_;
    QLineEdit* location_;
};

// "Delete song...": only from the set, or with its files to the trash. Null when cancelled.
std::optional<DeleteChoice> AskDeleteChoice(const std::string& title, DeleteChoice initial, QWidget* parent);

} // namespace cantivo
