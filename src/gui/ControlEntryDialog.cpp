#include "gui/ControlEntryDialog.h"

#include "gui/HelpButton.h"
#include "playback/MidiInPort.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace cantivo {

std::string KeyNoteName(int key)
{
    static constexpr const char* Names[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    return std::string(Names[key % 12]) + std::to_string(key / 12 - 1);
}

std::string InputPortName(const std::vector<std::string>& inputPorts, int port)
{
    if (port >= 0 && static_cast<size_t>(port) < inputPorts.size())
        return inputPorts[static_cast<size_t>(port)];
    return std::to_string(port) + ": ?";
}

KeySpinBox::KeySpinBox(QWidget* parent) : QSpinBox(parent)
{
    setRange(0, 127);
    // Key 0 stands for a controller trigger, so an empty field shows it.
    setSpecialValueText(" ");
    // Read when typing ends: on the way to "Bb3" the field passes through texts that are no key.
    setKeyboardTracking(false);
}

QString KeySpinBox::textFromValue(int value) const
{
    return value == 0 ? QString() : QString::fromStdString(KeyNoteName(value));
}

int KeySpinBox::valueFromText(const QString& text) const
{
    bool none = false;
    const std::optional<int> key = ParseKeyText(text.toStdString(), none);
    return key ? *key : none ? 0 : value();
}

QValidator::State KeySpinBox::validate(QString& text, int&) const
{
    bool none = false;
    if (ParseKeyText(text.toStdString(), none) || none)
        return QValidator::Acceptable;
    // Half-typed names ("B", "Bb") must be allowed on the way to "Bb3".
    return QValidator::Intermediate;
}

ControlEntryDialog::ControlEntryDialog(const ControlEntry& entry, std::vector<std::string> inputPorts,
                                       ControlLearner* learner, QWidget* parent)
    : QDialog(parent), learner_(learner), poll_(new QTimer(this))
{
    setWindowTitle("Edit control map entry...");
    setObjectName("controlEntryDialog");
    auto* layout = new QVBoxLayout(this);

    auto* device = new QGroupBox("Input device");
    auto* deviceForm = new QFormLayout(device);
    port_ = new QComboBox;
    port_->setObjectName("port");
    for (int i = 0; i < 16; ++i)
        port_->addItem(QString::fromStdString(InputPortName(inputPorts, i)));
    deviceForm->addRow("MIDI In Port:", port_);
    channel_ = new QSpinBox;
    channel_->setObjectName("channel");
    channel_->setRange(1, 16);
    deviceForm->addRow("Channel:", channel_);
    layout->addWidget(device);

    auto* trigger = new QGroupBox("Trigger");
    auto* triggerForm = new QFormLayout(trigger);
    controller_ = new QSpinBox;
    controller_->setObjectName("controller");
    controller_->setRange(0, 127);
    triggerForm->addRow("Controller:", controller_);
    key_ = new KeySpinBox;
    key_->setObjectName("key");
    triggerForm->addRow("Key:", key_);
    layout->addWidget(trigger);

    auto* actionBox = new QGroupBox("Action");
    auto* actionLayout = new QVBoxLayout(actionBox);
    action_ = new QComboBox;
    action_->setObjectName("action");
    for (int code = 0; code < ControlActionCount; ++code)
        action_->addItem(ControlActionName(code));
    actionLayout->addWidget(action_);
    layout->addWidget(actionBox);

    learn_ = new QPushButton("Learn");
    learn_->setObjectName("learn");
    learn_->setCheckable(true);
    learn_->setEnabled(learner_ != nullptr);
    layout->addWidget(learn_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->setObjectName("buttons");
    layout->addWidget(buttons);
    AddHelpButton(*buttons, [] { return std::string("::/ExternalControl.htm"); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(this, &QDialog::finished, this, &ControlEntryDialog::StopLearning);

    port_->setCurrentIndex(entry.Port());
    channel_->setValue(entry.Channel() + 1);
    controller_->setValue(entry.Controller());
    key_->setValue(entry.Key());
    action_->setCurrentIndex(static_cast<int>(entry.Action()) < ControlActionCount ? static_cast<int>(entry.Action())
                                                                                   : 0);

    poll_->setInterval(20);
    connect(poll_, &QTimer::timeout, this, &ControlEntryDialog::PollLearner);
    connect(learn_, &QPushButton::toggled, this, [this](bool on) {
        if (on)
            StartLearning();
        else
            StopLearning();
    });
}

ControlEntryDialog::~ControlEntryDialog()
{
    StopLearning();
}

ControlEntry ControlEntryDialog::Entry() const
{
    return ControlEntry::Make(port_->currentIndex(), channel_->value() - 1, controller_->value(), key_->value(),
                              static_cast<ControlAction>(action_->currentIndex()));
}

void ControlEntryDialog::accept()
{
    // Enter on OK leaves the key field's text unread while it still has the focus.
    key_->interpretText();
    QDialog::accept();
}

void ControlEntryDialog::StartLearning()
{
    if (!learner_)
        return;
    (void)learner_->Take(); // what came before the button is not the answer
    learner_->Arm();
    poll_->start();
    const QSignalBlocker block(learn_);
    learn_->setChecked(true);
}

void ControlEntryDialog::StopLearning()
{
    if (learner_)
        learner_->Disarm();
    poll_->stop();
    const QSignalBlocker block(learn_);
    learn_->setChecked(false);
}

bool ControlEntryDialog::PollLearner()
{
    if (!learner_)
        return false;
    const std::optional<ControlLearner::Heard> heard = learner_->Take();
    if (!heard)
        return false;
    port_->setCurrentIndex(heard->port & 0x0F);
    channel_->setValue((heard->channel & 0x0F) + 1);
    if (heard->key >= 0)
        key_->setValue(heard->key);
    if (heard->controller >= 0)
        controller_->setValue(heard->controller);
    StopLearning();
    return true;
}

} // namespace cantivo
