#include "gui/AccelMapEditor.h"

#include "app/CommandTable.h"
#include "gui/HelpButton.h"
#include "song/Prompter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace cantivo {

namespace {

constexpr const char* FileFilter = "Accelerator map data files (*.dat)";

bool PassedOver(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Pause:
    case Qt::Key_CapsLock:
    case Qt::Key_unknown:
        return true;
    default:
        return false;
    }
}

} // namespace

KeyCaptureEdit::KeyCaptureEdit(QWidget* parent) : QLineEdit(parent)
{
    setReadOnly(true);
    setPlaceholderText("Type the shortcut");
}

bool KeyCaptureEdit::Capture(QKeyCombination combination)
{
    const int qtKey = static_cast<int>(combination.key());
    if (PassedOver(qtKey))
        return false;
    const std::optional<uint16_t> virtualKey = VirtualKeyFromQtKey(qtKey);
    // 16-25 are the modifier, pause, caps-lock and input-method keys, never a shortcut on their own.
    if (!virtualKey || (*virtualKey >= 16 && *virtualKey <= 25))
        return false;
    AccelEntry entry;
    entry.flags = static_cast<uint8_t>(
        AccelVirtualKey | AccelFlagsFromQtModifiers(static_cast<int>(combination.keyboardModifiers().toInt())));
    entry.key = *virtualKey;
    captured_ = entry;
    setText(QString::fromStdString(ShortcutText(entry)));
    emit captured();
    return true;
}

void KeyCaptureEdit::Clear()
{
    captured_.reset();
    clear();
}

bool KeyCaptureEdit::event(QEvent* event)
{
    // Tab and the window's own shortcuts are keys to capture too, not focus moves or commands.
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    if (event->type() == QEvent::KeyPress) {
        keyPressEvent(static_cast<QKeyEvent*>(event));
        return true;
    }
    return QLineEdit::event(event);
}

void KeyCaptureEdit::keyPressEvent(QKeyEvent* event)
{
    Capture(event->keyCombination());
    event->accept();
}

AccelMapEditor::AccelMapEditor(AccelMapStore& store, Prompter& prompter, QWidget* parent)
    : QDialog(parent), model_(store), prompter_(prompter)
{
    setWindowTitle("Keyboard accelerator maps");
    setObjectName("accelMapEditor");
    auto* layout = new QVBoxLayout(this);

    enabled_ = new QCheckBox("Enable accelerators");
    enabled_->setObjectName("enabled");
    enabled_->setChecked(model_.EnableAccelerators());
    layout->addWidget(enabled_);

    auto* mapRow = new QHBoxLayout;
    mapRow->addWidget(new QLabel("Map to edit/use:"));
    mapName_ = new QComboBox;
    mapName_->setObjectName("mapName");
    mapName_->setEditable(true);
    mapName_->setInsertPolicy(QComboBox::NoInsert);
    mapRow->addWidget(mapName_, 1);
    saveNew_ = new QPushButton("Save new map");
    saveNew_->setObjectName("saveNewMap");
    rename_ = new QPushButton("Rename");
    rename_->setObjectName("renameMap");
    delete_ = new QPushButton("Delete");
    delete_->setObjectName("deleteMap");
    auto* import = new QPushButton("Import");
    import->setObjectName("import");
    auto* exportButton = new QPushButton("Export");
    exportButton->setObjectName("export");
    for (QPushButton* button : {saveNew_, rename_, delete_, import, exportButton})
        mapRow->addWidget(button);
    layout->addLayout(mapRow);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel("Function"), 0, 0);
    grid->addWidget(new QLabel("Shortcut"), 0, 1);
    functions_ = new QListWidget;
    functions_->setObjectName("functions");
    for (const CommandInfo& command : BindableCommands()) {
        auto* item = new QListWidgetItem(QString::fromStdString(FunctionName(command.id)), functions_);
        item->setData(Qt::UserRole, command.id);
    }
    grid->addWidget(functions_, 1, 0, 3, 1);
    keys_ = new QListWidget;
    keys_->setObjectName("keys");
    keys_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    grid->addWidget(keys_, 1, 1);
    capture_ = new KeyCaptureEdit;
    capture_->setObjectName("keyCapture");
    grid->addWidget(capture_, 2, 1);
    auto* keyButtons = new QHBoxLayout;
    add_ = new QPushButton("Add");
    add_->setObjectName("addKey");
    remove_ = new QPushButton("Remove");
    remove_->setObjectName("removeKey");
    keyButtons->addWidget(add_);
    keyButtons->addWidget(remove_);
    grid->addLayout(keyButtons, 3, 1);
    layout->addLayout(grid, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->setObjectName("buttons");
    layout->addWidget(buttons);
    AddHelpButton(*buttons, [] { return std::string("::/Accelerators.htm"); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    connect(mapName_, &QComboBox::activated, this, [this](int index) {
        (void)model_.Select(mapName_->itemText(index).toStdString());
        ShowMaps();
    });
    connect(mapName_, &QComboBox::editTextChanged, this, &AccelMapEditor::UpdateButtons);
    connect(saveNew_, &QPushButton::clicked, this, &AccelMapEditor::SaveNewMap);
    connect(rename_, &QPushButton::clicked, this, &AccelMapEditor::RenameMap);
    connect(delete_, &QPushButton::clicked, this, &AccelMapEditor::DeleteMap);
    connect(import, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, "Import accelerator maps...", {}, FileFilter);
        if (!path.isEmpty())
            ImportFile(path);
    });
    connect(exportButton, &QPushButton::clicked, this, [this] {
        QFileDialog chooser(this, "Export accelerator maps...", {}, FileFilter);
        chooser.setAcceptMode(QFileDialog::AcceptSave);
        chooser.setDefaultSuffix("dat");
        if (chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty())
            ExportFile(chooser.selectedFiles().front());
    });
    connect(functions_, &QListWidget::currentRowChanged, this, &AccelMapEditor::ShowKeys);
    connect(keys_, &QListWidget::itemSelectionChanged, this, &AccelMapEditor::UpdateButtons);
    connect(capture_, &KeyCaptureEdit::captured, this, &AccelMapEditor::UpdateButtons);
    connect(add_, &QPushButton::clicked, this, [this] { (void)AddCapturedKey(); });
    connect(remove_, &QPushButton::clicked, this, &AccelMapEditor::RemoveSelectedKeys);

    functions_->setCurrentRow(0);
    ShowMaps();
}

uint16_t AccelMapEditor::SelectedCommand() const
{
    const QListWidgetItem* item = functions_->currentItem();
    return item ? static_cast<uint16_t>(item->data(Qt::UserRole).toUInt()) : 0;
}

void AccelMapEditor::SelectFunction(uint16_t command)
{
    for (int row = 0; row < functions_->count(); ++row)
        if (functions_->item(row)->data(Qt::UserRole).toUInt() == command)
            functions_->setCurrentRow(row);
}

void AccelMapEditor::ShowMaps()
{
    {
        const QSignalBlocker block(mapName_);
        mapName_->clear();
        for (const AccelMap& map : model_.Maps())
            mapName_->addItem(QString::fromStdString(map.name));
        mapName_->setCurrentIndex(model_.Selected());
    }
    ShowKeys();
}

void AccelMapEditor::ShowKeys()
{
    keys_->clear();
    const AccelMap* map = model_.SelectedMap();
    const uint16_t command = SelectedCommand();
    if (map) {
        for (size_t row = 0; row < map->entries.size(); ++row) {
            const AccelEntry& entry = map->entries[row];
            if (entry.command != command)
                continue;
            auto* item = new QListWidgetItem(QString::fromStdString(ShortcutText(entry)), keys_);
            item->setData(Qt::UserRole, static_cast<qulonglong>(row));
        }
    }
    UpdateButtons();
}

void AccelMapEditor::UpdateButtons()
{
    const std::string typed = mapName_->currentText().toStdString();
    saveNew_->setEnabled(model_.CanSaveNewMap(typed));
    rename_->setEnabled(model_.CanDelete() && model_.CanSaveNewMap(typed) && typed != DefaultAccelMapName);
    delete_->setEnabled(model_.CanDelete());
    // The built-in map is only ever copied, never changed.
    capture_->setEnabled(model_.CanChangeEntries());
    add_->setEnabled(model_.CanChangeEntries() && capture_->Captured() && SelectedCommand() != 0);
    remove_->setEnabled(model_.CanChangeEntries() && !keys_->selectedItems().isEmpty());
}

bool AccelMapEditor::AddCapturedKey()
{
    if (!model_.CanChangeEntries()) {
        prompter_.Show("The built-in map \"Default\" cannot be changed; save a copy under a new name first.",
                       PromptIcon::Warning);
        return false;
    }
    if (!capture_->Captured() || SelectedCommand() == 0) {
        prompter_.Show("Choose a function and type its shortcut first.", PromptIcon::Warning);
        return false;
    }
    AccelEntry entry = *capture_->Captured();
    entry.command = SelectedCommand();
    std::string message;
    if (!model_.AddEntry(entry, message)) {
        prompter_.Show(message.empty() ? "This shortcut cannot be added." : message, PromptIcon::Warning);
        return false;
    }
    capture_->Clear();
    ShowKeys();
    keys_->setCurrentRow(keys_->count() - 1);
    return true;
}

void AccelMapEditor::RemoveSelectedKeys()
{
    std::vector<size_t> rows;
    for (const QListWidgetItem* item : keys_->selectedItems())
        rows.push_back(static_cast<size_t>(item->data(Qt::UserRole).toULongLong()));
    if (rows.empty() || !model_.RemoveEntries(rows))
        return;
    ShowKeys();
}

void AccelMapEditor::SaveNewMap()
{
    if (!model_.SaveNewMap(mapName_->currentText().toStdString()))
        return;
    ShowMaps();
}

void AccelMapEditor::RenameMap()
{
    if (!model_.Rename(mapName_->currentText().toStdString()))
        return;
    ShowMaps();
}

void AccelMapEditor::DeleteMap()
{
    if (!model_.CanDelete() || !prompter_.Ask(AccelDeleteQuestion, PromptButtons::YesNo, PromptIcon::Question))
        return;
    (void)model_.DeleteSelected();
    ShowMaps();
}

void AccelMapEditor::ImportFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        prompter_.Show("Could not read " + path.toStdString() + ": " + file.errorString().toStdString(),
                       PromptIcon::Error);
        return;
    }
    const QByteArray bytes = file.readAll();
    std::string error;
    const bool whole = model_.Import(
        std::span(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size())),
        [this](const std::string& name) {
            return prompter_.Ask(AccelOverwriteQuestion(name), PromptButtons::YesNo, PromptIcon::Question);
        },
        error);
    ShowMaps();
    if (!whole)
        prompter_.Show(error, PromptIcon::Error);
}

void AccelMapEditor::ExportFile(const QString& path)
{
    const std::vector<uint8_t> bytes = model_.Export();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) !=
            static_cast<qint64>(bytes.size()) ||
        !file.flush()) {
        prompter_.Show("Could not write " + path.toStdString() + ": " + file.errorString().toStdString(),
                       PromptIcon::Error);
    }
}

void AccelMapEditor::accept()
{
    model_.SetEnableAccelerators(enabled_->isChecked());
    if (!model_.Save()) {
        prompter_.Show("The accelerator maps could not be saved; check that the settings file can be written, "
                       "then press OK again.",
                       PromptIcon::Error);
        return;
    }
    QDialog::accept();
}

} // namespace cantivo
