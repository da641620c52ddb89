#pragma once

#include "app/AccelMap.h"

#include <QDialog>
#include <QLineEdit>

#include <optional>

class QCheckBox;
class QComboBox;
class QListWidget;
class QPushButton;

namespace cantivo {

class Prompter;

// A field that takes the next key typed, with the Shift, Ctrl and Alt held then, as a shortcut entry.
// Shift, Ctrl, Alt, Pause, Caps Lock and the input-method keys alone are passed over, as are keys that
// have no virtual-key code.
class KeyCaptureEdit final : public QLineEdit {
    Q_OBJECT
  public:
    explicit KeyCaptureEdit(QWidget* parent = nullptr);

    // Flags and key of the captured shortcut (no command); nullopt before a key was typed.
    const std::optional<AccelEntry>& Captured() const { return captured_; }
    // Takes a key as if typed; false when the key cannot be bound and is passed over.
    bool Capture(QKeyCombination combination);
    void Clear();

  signals:
    void captured();

  protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    std::optional<AccelEntry> captured_;
};

// "Keyboard accelerator maps": the maps, the keys bound to each function of the selected map, and the
// map file. Nothing reaches the store before OK; the caller then activates the configured map.
class AccelMapEditor final : public QDialog {
    Q_OBJECT
  public:
    AccelMapEditor(AccelMapStore& store, Prompter& prompter, QWidget* parent = nullptr);

    const AccelMapEditorModel& Model() const { return model_; }

    // What the buttons end in, for the buttons and for tests.
    void SelectFunction(uint16_t command);
    [[nodiscard]] bool AddCapturedKey();
    void RemoveSelectedKeys();
    void SaveNewMap();
    void RenameMap();
    void DeleteMap();
    void ImportFile(const QString& path);
    void ExportFile(const QString& path);

    void accept() override;

  private:
    void ShowMaps();
    void ShowKeys();
    void UpdateButtons();
    uint16_t SelectedCommand() const;

    AccelMapEditorModel model_;
    Prompter& prompter_;
    QCheckBox* enabled_;
    QComboBox* mapName_;
    QPushButton* saveNew_;
    QPushButton* rename_;
    QPushButton* delete_;
    QListWidget* functions_;
    QListWidget* keys_;
    KeyCaptureEdit* capture_;
    QPushButton* add_;
    QPushButton* remove_;
};

} // namespace cantivo
