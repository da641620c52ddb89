#pragma once

#include "playback/ControlMap.h"

#include <QDialog>
#include <QSpinBox>

#include <string>
#include <vector>

class QComboBox;
class QPushButton;
class QTimer;

namespace cantivo {

class ControlLearner;

// The "Key:" field: a note number shown as its name, typed as a number or a name such as "Bb3"; empty
// is no key. A text that is not a key in 0-127 leaves the previous key.
class KeySpinBox final : public QSpinBox {
    Q_OBJECT
  public:
    explicit KeySpinBox(QWidget* parent = nullptr);

  protected:
    QString textFromValue(int value) const override;
    int valueFromText(const QString& text) const override;
    QValidator::State validate(QString& text, int& pos) const override;
};

// "Edit control map entry...": the input port and channel, the trigger and the action. "Learn" fills
// the port, channel and key or controller in from the next Note On or control change heard.
class ControlEntryDialog final : public QDialog {
    Q_OBJECT
  public:
    // `inputPorts` are the names of the MIDI inputs by index; `learner` may be null (no learning).
    ControlEntryDialog(const ControlEntry& entry, std::vector<std::string> inputPorts, ControlLearner* learner,
                       QWidget* parent = nullptr);
    ~ControlEntryDialog() override;

    ControlEntry Entry() const;

    void accept() override;

    // Arms the learner; the poll timer takes what it hears.
    void StartLearning();
    // One poll: fills in a message heard since the last one. True when there was one.
    bool PollLearner();

  private:
    void StopLearning();

    ControlLearner* learner_;
    QTimer* poll_;
    QComboBox* port_;
    QSpinBox* channel_;
    QSpinBox* controller_;
    KeySpinBox* key_;
    QComboBox* action_;
    QPushButton* learn_;
};

// "C4" for 60: the name the key field and the map list show.
std::string KeyNoteName(int key);
// The port's name, or "%d: ?" for an index with no input.
std::string InputPortName(const std::vector<std::string>& inputPorts, int port);

} // namespace cantivo
