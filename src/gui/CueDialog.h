#pragma once

#include "edit/CueDialogModel.h"

#include <QDialog>

#include <optional>

class QComboBox;
class QLineEdit;
class QSpinBox;

namespace cantivo {

class Prompter;

// "Cue": the fields of a cue over its model. OK runs the model's checks; a refused cue is reported and
// the dialog stays open with the fields as typed.
class CueDialog final : public QDialog {
    Q_OBJECT
  public:
    CueDialog(CueDialogModel& model, Prompter& prompter, QWidget* parent = nullptr);

    // The cue to store, once OK was accepted.
    const std::optional<Cue>& Result() const { return result_; }

    void accept() override;

  private:
    void KindChanged(int kind);
    // Hands the typed times to the model; false with the first reason when one is not a position.
    bool CommitTimes(std::string& error);
    void ShowFields();

    CueDialogModel& model_;
    Prompter& prompter_;
    std::optional<Cue> result_;
    QComboBox* kind_;
    QLineEdit* label_;
    QSpinBox* count_;
    QLineEdit* stopAt_;
    QLineEdit* restartAt_;
};

} // namespace cantivo
