#pragma once

#include "playback/ControlMap.h"

#include <QDialog>

#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QPushButton;
class QTreeWidget;

namespace cantivo {

class ControlLearner;
class ControlMapStore;
class Prompter;

// "External control maps": the stored maps, the entries of the one to edit and use, and the exchange
// file. Nothing reaches the store before OK.
class ControlMapDialog final : public QDialog {
    Q_OBJECT
  public:
    ControlMapDialog(ControlMapStore& store, Prompter& prompter, std::vector<std::string> inputPorts,
                     ControlLearner* learner, QWidget* parent = nullptr);

    const std::vector<ControlMap>& Maps() const { return maps_; }
    // The map the list shows: the one to edit and use.
    const ControlMap& Current() const;

    // Selects the map of that name, adding an empty one when there is none yet.
    void SelectMap(const std::string& name);
    // The entry buttons without their dialog: what "Add", "Edit..." and "Remove" end in.
    [[nodiscard]] bool AddEntry(const ControlEntry& entry);
    [[nodiscard]] bool ReplaceEntry(int row, const ControlEntry& entry);
    // Asks "Are you sure?" first.
    void RemoveSelected();
    void ImportFile(const QString& path);
    void ExportFile(const QString& path);

    void accept() override;

  private:
    void ShowEntries();
    void UpdateButtons();
    void EditSelected();
    void AddWithDialog();
    int SelectedRow() const;

    ControlMapStore& store_;
    Prompter& prompter_;
    std::vector<std::string> inputPorts_;
    ControlLearner* learner_;
    std::vector<ControlMap> maps_; // sorted by name
    size_t current_ = 0;
    QCheckBox* enabled_;
    QComboBox* mapName_;
    QTreeWidget* entries_;
    QPushButton* add_;
    QPushButton* edit_;
    QPushButton* remove_;
};

} // namespace cantivo
