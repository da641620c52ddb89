#pragma once

#include "playback/SyncMaster.h"

#include <QDialog>

#include <string>
#include <vector>

class QButtonGroup;
class QComboBox;

namespace cantivo {

class Profile;
class Prompter;

// "Synchronization": independent, master or slave, the port, the protocol and the time-code format.
// The port list names output ports for a master and input ports for a slave.
class SyncDialog final : public QDialog {
    Q_OBJECT
  public:
    // Entries the port list offers after "All ports"; "Port" cannot name a later one.
    static constexpr int PortEntries = 16;

    SyncDialog(Profile& profile, Prompter& prompter, std::vector<std::string> outputPorts,
               std::vector<std::string> inputPorts, QWidget* parent = nullptr);

    // The settings as the controls show them.
    SyncSettings Settings() const;

    void accept() override;

  private:
    void FillPorts();

    Profile& profile_;
    Prompter& prompter_;
    std::vector<std::string> outputPorts_;
    std::vector<std::string> inputPorts_;
    SyncSettings settings_;
    QButtonGroup* role_;
    QButtonGroup* protocol_;
    QButtonGroup* smpte_;
    QComboBox* ports_;
};

} // namespace cantivo
