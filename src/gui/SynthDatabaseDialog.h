#pragma once

#include "synthdb/SynthEditorModel.h"

#include <QDialog>

#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTreeWidget;
class QTreeWidgetItem;

namespace cantivo {

class Prompter;

// "Synth database...": every synthesizer as a tree, the selected item's fields beside it and the
// context menu of the item. OK writes the changes to the database; Cancel drops them.
class SynthDatabaseDialog final : public QDialog {
    Q_OBJECT
  public:
    SynthDatabaseDialog(SynthDatabase& database, Prompter& prompter, QWidget* parent = nullptr);

    const SynthEditorModel& Model() const { return model_; }
    std::optional<SynthItem> Selected() const;
    void Select(const SynthItem& item);
    // A context-menu command by its text ("Insert patch", "Remove bank", ...) on the selected item.
    void Run(const std::string& command);
    // The fields' "Apply": hands them to the model; a refused edit is shown and the fields stay.
    [[nodiscard]] bool ApplyFields();

    void accept() override;

  private:
    void Rebuild(const std::optional<SynthItem>& select);
    void AddItems(QTreeWidgetItem* parent, const std::vector<SynthItem>& items);
    void ShowFields();
    void SelectionChanged();
    void ContextMenu(const QPoint& at);

    SynthDatabase& database_;
    Prompter& prompter_;
    SynthEditorModel model_;
    // An item just inserted whose number was never given: it goes when the selection leaves it.
    std::optional<SynthItem> pending_;
    QTreeWidget* tree_;
    QLabel* numberLabel_;
    QSpinBox* number_;
    QLabel* programLabel_;
    QSpinBox* program_;
    QLineEdit* name_;
    QLabel* categoryLabel_;
    QLineEdit* category_;
    QCheckBox* cc0Only_;
    QLabel* resetLabel_;
    QLineEdit* resetText_;
    QPushButton* apply_;
};

} // namespace cantivo
