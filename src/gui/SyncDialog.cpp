#include "gui/SyncDialog.h"

#include "gui/HelpButton.h"
#include "song/Profile.h"
#include "song/Prompter.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

namespace cantivo {

namespace {

QButtonGroup* AddRadios(QWidget* owner, QVBoxLayout* layout, const char* name, std::initializer_list<const char*> texts,
                        int checked)
{
    auto* group = new QButtonGroup(owner);
    int id = 0;
    for (const char* text : texts) {
        auto* radio = new QRadioButton(QString::fromUtf8(text));
        radio->setObjectName(QStringLiteral("%1%2").arg(name).arg(id));
        group->addButton(radio, id);
        layout->addWidget(radio);
        radio->setChecked(id == checked);
        ++id;
    }
    return group;
}

} // namespace

SyncDialog::SyncDialog(Profile& profile, Prompter& prompter, std::vector<std::string> outputPorts,
                       std::vector<std::string> inputPorts, QWidget* parent)
    : QDialog(parent), profile_(profile), prompter_(prompter), outputPorts_(std::move(outputPorts)),
      inputPorts_(std::move(inputPorts)), settings_(SyncSettings::Read(profile))
{
    setWindowTitle("Synchronization");
    setObjectName("syncDialog");
    auto* layout = new QVBoxLayout(this);

    auto* roleBox = new QGroupBox;
    auto* roleLayout = new QVBoxLayout(roleBox);
    role_ = AddRadios(this, roleLayout, "role", {"&Independent", "The &Master", "A &Slave"}, settings_.masterSlave);
    layout->addWidget(roleBox);
    roleLayout->addWidget(new QLabel("Port(s) to use:"));
    ports_ = new QComboBox;
    ports_->setObjectName("ports");
    roleLayout->addWidget(ports_);

    auto* protocolBox = new QGroupBox;
    auto* protocolLayout = new QVBoxLayout(protocolBox);
    protocol_ =
        AddRadios(this, protocolLayout, "protocol", {"MIDI &Clock", "MIDI &Time Code (MTC/SMPTE)"}, settings_.protocol);
    layout->addWidget(protocolBox);

    auto* smpteBox = new QGroupBox;
    auto* smpteLayout = new QVBoxLayout(smpteBox);
    smpte_ = AddRadios(
        this, smpteLayout, "smpte",
        {"2&4 Frame SMPTE", "2&5 Frame SMPTE", "30 &Drop Frame SMPTE", "30 &Non-Drop Frame SMPTE", "milliseconds (ms)"},
        settings_.smpte);
    layout->addWidget(smpteBox);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->setObjectName("buttons");
    layout->addWidget(buttons);
    AddHelpButton(*buttons, [] { return std::string("::/Sync.htm"); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    FillPorts();
    ports_->setCurrentIndex(settings_.port);
    connect(role_, &QButtonGroup::idToggled, this, [this](int, bool on) {
        if (on)
            FillPorts();
    });
}

void SyncDialog::FillPorts()
{
    // The index stays when the role changes: "Port" counts either kind of port.
    const int keep = std::max(ports_->currentIndex(), 0);
    const std::vector<std::string>& names = role_->checkedId() == 2 ? inputPorts_ : outputPorts_;
    ports_->clear();
    ports_->addItem("All ports");
    for (int i = 0; i < PortEntries; ++i) {
        const size_t at = static_cast<size_t>(i);
        ports_->addItem(at < names.size() ? QStringLiteral("%1: %2").arg(i).arg(QString::fromStdString(names[at]))
                                          : QStringLiteral("%1: ?").arg(i));
    }
    ports_->setCurrentIndex(keep);
    ports_->setEnabled(role_->checkedId() != 0);
}

SyncSettings SyncDialog::Settings() const
{
    SyncSettings settings = settings_;
    settings.masterSlave = std::max(role_->checkedId(), 0);
    settings.port = std::max(ports_->currentIndex(), 0);
    settings.protocol = std::max(protocol_->checkedId(), 0);
    settings.smpte = std::max(smpte_->checkedId(), 0);
    return settings;
}

void SyncDialog::accept()
{
    const SyncSettings settings = Settings();
    // All four go, even the ones that did not change, so that the store holds one consistent set.
    bool written = profile_.WriteInt("SyncOptions", "MasterSlave", settings.masterSlave);
    written = profile_.WriteInt("SyncOptions", "Port", settings.port) && written;
    written = profile_.WriteInt("SyncOptions", "Protocol", settings.protocol) && written;
    written = profile_.WriteInt("SyncOptions", "SMPTE", settings.smpte) && written;
    if (!written) {
        prompter_.Show("The synchronization settings could not be saved; check that the settings file can be "
                       "written, then press OK again.",
                       PromptIcon::Error);
        return;
    }
    QDialog::accept();
}

} // namespace cantivo
