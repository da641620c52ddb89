#include "gui/ControlMapDialog.h"

#include "app/ControlMapStore.h"
#include "gui/ControlEntryDialog.h"
#include "gui/HelpButton.h"
#include "song/Prompter.h"
#include "synthdb/Synthesizer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace cantivo {

namespace {

constexpr const char* FileFilter = "Control map data files (*.dat)";

std::string ControllerText(const ControlEntry& entry)
{
    // A key trigger's controller 0 means no modifier; a controller trigger's 0 is bank select.
    if (entry.Key() != 0 && entry.Controller() == 0)
        return "<None>";
    const char* name = BuiltInControllerName(entry.Controller());
    return name && *name ? name : std::to_string(entry.Controller());
}

} // namespace

ControlMapDialog::ControlMapDialog(ControlMapStore& store, Prompter& prompter, std::vector<std::string> inputPorts,
                                   ControlLearner* learner, QWidget* parent)
    : QDialog(parent), store_(store), prompter_(prompter), inputPorts_(std::move(inputPorts)), learner_(learner),
      maps_(store.Maps())
{
    setWindowTitle("External control maps");
    setObjectName("controlMapDialog");
    auto* layout = new QVBoxLayout(this);

    enabled_ = new QCheckBox("Enable external control");
    enabled_->setObjectName("enabled");
    enabled_->setChecked(store_.Enabled());
    layout->addWidget(enabled_);

    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(new QLabel("Map to edit/use:"));
    mapName_ = new QComboBox;
    mapName_->setObjectName("mapName");
    mapName_->setEditable(true);
    mapName_->setInsertPolicy(QComboBox::NoInsert);
    nameRow->addWidget(mapName_, 1);
    layout->addLayout(nameRow);

    entries_ = new QTreeWidget;
    entries_->setObjectName("entries");
    entries_->setRootIsDecorated(false);
    entries_->setHeaderLabels({"MIDI In Port", "Chan", "Controller", "Key", "Action"});
    layout->addWidget(entries_, 1);

    auto* row = new QHBoxLayout;
    add_ = new QPushButton("Add");
    add_->setObjectName("add");
    edit_ = new QPushButton("Edit...");
    edit_->setObjectName("edit");
    remove_ = new QPushButton("Remove");
    remove_->setObjectName("remove");
    auto* import = new QPushButton("Import control maps...");
    import->setObjectName("import");
    auto* exportButton = new QPushButton("Export control maps...");
    exportButton->setObjectName("export");
    for (QPushButton* button : {add_, edit_, remove_, import, exportButton})
        row->addWidget(button);
    layout->addLayout(row);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->setObjectName("buttons");
    layout->addWidget(buttons);
    AddHelpButton(*buttons, [] { return std::string("::/ExternalControl.htm"); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    connect(add_, &QPushButton::clicked, this, &ControlMapDialog::AddWithDialog);
    connect(edit_, &QPushButton::clicked, this, &ControlMapDialog::EditSelected);
    connect(entries_, &QTreeWidget::itemDoubleClicked, this, &ControlMapDialog::EditSelected);
    connect(remove_, &QPushButton::clicked, this, &ControlMapDialog::RemoveSelected);
    connect(entries_, &QTreeWidget::itemSelectionChanged, this, &ControlMapDialog::UpdateButtons);
    connect(import, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, "Import control maps...", {}, FileFilter);
        if (!path.isEmpty())
            ImportFile(path);
    });
    connect(exportButton, &QPushButton::clicked, this, [this] {
        QFileDialog chooser(this, "Export control maps...", {}, FileFilter);
        chooser.setAcceptMode(QFileDialog::AcceptSave);
        chooser.setDefaultSuffix("dat");
        if (chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty())
            ExportFile(chooser.selectedFiles().front());
    });
    connect(mapName_, &QComboBox::activated, this,
            [this](int index) { SelectMap(mapName_->itemText(index).toStdString()); });
    connect(mapName_->lineEdit(), &QLineEdit::returnPressed, this,
            [this] { SelectMap(mapName_->currentText().toStdString()); });

    // With nothing stored an empty "MIDI" map is offered, so there is always a map to edit.
    SelectMap(store_.UseWhich());
}

const ControlMap& ControlMapDialog::Current() const
{
    return maps_[current_];
}

void ControlMapDialog::SelectMap(const std::string& name)
{
    if (name.empty()) {
        if (maps_.empty())
            maps_.push_back(ControlMap{"MIDI", {}});
        ShowEntries();
        return;
    }
    auto at = std::find_if(maps_.begin(), maps_.end(), [&](const ControlMap& map) { return map.name == name; });
    if (at == maps_.end()) {
        if (maps_.size() >= ControlMapStore::MaxMaps) {
            prompter_.Show("There are already " + std::to_string(ControlMapStore::MaxMaps) +
                               " control maps; remove one before adding \"" + name + "\".",
                           PromptIcon::Warning);
            ShowEntries();
            return;
        }
        at = std::lower_bound(maps_.begin(), maps_.end(), name,
                              [](const ControlMap& map, const std::string& key) { return map.name < key; });
        at = maps_.insert(at, ControlMap{name, {}});
    }
    current_ = static_cast<size_t>(at - maps_.begin());
    ShowEntries();
}

void ControlMapDialog::ShowEntries()
{
    {
        const QSignalBlocker block(mapName_);
        mapName_->clear();
        for (const ControlMap& map : maps_)
            mapName_->addItem(QString::fromStdString(map.name));
        mapName_->setCurrentIndex(static_cast<int>(current_));
    }
    entries_->clear();
    for (const ControlEntry& entry : Current().entries) {
        auto* item = new QTreeWidgetItem(entries_);
        item->setText(0, QString::fromStdString(InputPortName(inputPorts_, entry.Port())));
        item->setText(1, QString::number(entry.Channel() + 1));
        item->setText(2, QString::fromStdString(ControllerText(entry)));
        item->setText(3,
                      entry.Key() == 0 ? QStringLiteral("<None>") : QString::fromStdString(KeyNoteName(entry.Key())));
        item->setText(4, ControlActionName(static_cast<int>(entry.Action())));
    }
    UpdateButtons();
}

int ControlMapDialog::SelectedRow() const
{
    const QList<QTreeWidgetItem*> selected = entries_->selectedItems();
    return selected.isEmpty() ? -1 : entries_->indexOfTopLevelItem(selected.front());
}

void ControlMapDialog::UpdateButtons()
{
    add_->setEnabled(Current().entries.size() < ControlMap::MaxEntries);
    edit_->setEnabled(SelectedRow() >= 0);
    remove_->setEnabled(SelectedRow() >= 0);
}

bool ControlMapDialog::AddEntry(const ControlEntry& entry)
{
    if (Current().entries.size() >= ControlMap::MaxEntries) {
        prompter_.Show("A control map holds at most " + std::to_string(ControlMap::MaxEntries) + " entries.",
                       PromptIcon::Warning);
        return false;
    }
    maps_[current_].entries.push_back(entry);
    ShowEntries();
    entries_->setCurrentItem(entries_->topLevelItem(entries_->topLevelItemCount() - 1));
    return true;
}

bool ControlMapDialog::ReplaceEntry(int row, const ControlEntry& entry)
{
    if (row < 0 || static_cast<size_t>(row) >= Current().entries.size())
        return false;
    maps_[current_].entries[static_cast<size_t>(row)] = entry;
    ShowEntries();
    entries_->setCurrentItem(entries_->topLevelItem(row));
    return true;
}

void ControlMapDialog::AddWithDialog()
{
    ControlEntryDialog dialog(ControlEntry{}, inputPorts_, learner_, this);
    if (dialog.exec() == QDialog::Accepted)
        (void)AddEntry(dialog.Entry());
}

void ControlMapDialog::EditSelected()
{
    const int row = SelectedRow();
    if (row < 0)
        return;
    ControlEntryDialog dialog(Current().entries[static_cast<size_t>(row)], inputPorts_, learner_, this);
    if (dialog.exec() == QDialog::Accepted)
        (void)ReplaceEntry(row, dialog.Entry());
}

void ControlMapDialog::RemoveSelected()
{
    const int row = SelectedRow();
    if (row < 0 || !prompter_.Ask("Are you sure?", PromptButtons::YesNo, PromptIcon::Question))
        return;
    auto& list = maps_[current_].entries;
    list.erase(list.begin() + row);
    ShowEntries();
}

void ControlMapDialog::ImportFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        prompter_.Show("Could not read " + path.toStdString() + ": " + file.errorString().toStdString(),
                       PromptIcon::Error);
        return;
    }
    const QByteArray bytes = file.readAll();
    std::string error;
    const std::vector<ControlMap> read = ReadControlMapFile(
        std::span(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size())), error);
    const std::string keep = Current().name;
    for (const ControlMap& map : read) {
        auto at =
            std::find_if(maps_.begin(), maps_.end(), [&](const ControlMap& known) { return known.name == map.name; });
        if (at == maps_.end()) {
            if (maps_.size() >= ControlMapStore::MaxMaps)
                continue;
            maps_.insert(std::lower_bound(maps_.begin(), maps_.end(), map.name,
                                          [](const ControlMap& m, const std::string& key) { return m.name < key; }),
                         map);
        } else if (prompter_.Ask(OverwriteQuestion(map.name), PromptButtons::YesNo, PromptIcon::Question)) {
            at->entries = map.entries;
        }
    }
    SelectMap(keep);
    if (!error.empty())
        prompter_.Show(error, PromptIcon::Error);
}

void ControlMapDialog::ExportFile(const QString& path)
{
    const std::vector<uint8_t> bytes = ControlMapFileBytes(maps_);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) !=
            static_cast<qint64>(bytes.size()) ||
        !file.flush()) {
        prompter_.Show("Could not write " + path.toStdString() + ": " + file.errorString().toStdString(),
                       PromptIcon::Error);
    }
}

void ControlMapDialog::accept()
{
    // A name typed but not confirmed with Enter is still the map the user means to use.
    const std::string typed = mapName_->currentText().toStdString();
    if (!typed.empty() && typed != Current().name) {
        SelectMap(typed);
        if (typed != Current().name)
            return;
    }
    std::string error;
    if (!store_.Save(maps_, Current().name, enabled_->isChecked(), error)) {
        prompter_.Show(error, PromptIcon::Error);
        return;
    }
    QDialog::accept();
}

} // namespace cantivo
