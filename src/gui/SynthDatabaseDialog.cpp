#include "gui/SynthDatabaseDialog.h"

#include "gui/HelpButton.h"
#include "song/Prompter.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace cantivo {

namespace {

constexpr int ItemRole = Qt::UserRole;

QVariant Pack(const SynthItem& item)
{
    return QVariantList{static_cast<int>(item.kind), item.synth, item.group, item.entry};
}

SynthItem Unpack(const QVariant& value)
{
    const QVariantList list = value.toList();
    return SynthItem{static_cast<SynthItemKind>(list.value(0).toInt()), list.value(1).toInt(), list.value(2).toInt(),
                     list.value(3).toInt()};
}

bool HasNumber(SynthItemKind kind)
{
    return kind == SynthItemKind::Bank || kind == SynthItemKind::Patch || kind == SynthItemKind::DrumSet ||
           kind == SynthItemKind::Note || kind == SynthItemKind::Controller || kind == SynthItemKind::Nrpn;
}

} // namespace

SynthDatabaseDialog::SynthDatabaseDialog(SynthDatabase& database, Prompter& prompter, QWidget* parent)
    : QDialog(parent), database_(database), prompter_(prompter)
{
    model_.Load(database_);
    setObjectName("synthDatabaseDialog");
    auto* layout = new QVBoxLayout(this);
    auto* body = new QHBoxLayout;
    layout->addLayout(body, 1);

    tree_ = new QTreeWidget;
    tree_->setObjectName("tree");
    tree_->setHeaderHidden(true);
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);
    body->addWidget(tree_, 2);

    auto* fields = new QFormLayout;
    numberLabel_ = new QLabel("Number:");
    number_ = new QSpinBox;
    number_->setObjectName("number");
    fields->addRow(numberLabel_, number_);
    programLabel_ = new QLabel("Program:");
    program_ = new QSpinBox;
    program_->setObjectName("program");
    program_->setRange(1, 128);
    fields->addRow(programLabel_, program_);
    name_ = new QLineEdit;
    name_->setObjectName("name");
    fields->addRow("Name:", name_);
    categoryLabel_ = new QLabel("Category:");
    category_ = new QLineEdit;
    category_->setObjectName("category");
    category_->setMaxLength(static_cast<int>(CategoryLength));
    fields->addRow(categoryLabel_, category_);
    cc0Only_ = new QCheckBox("CC0 only");
    cc0Only_->setObjectName("cc0Only");
    fields->addRow(cc0Only_);
    resetLabel_ = new QLabel("User reset:");
    resetText_ = new QLineEdit;
    resetText_->setObjectName("resetText");
    fields->addRow(resetLabel_, resetText_);
    apply_ = new QPushButton("Apply");
    apply_->setObjectName("apply");
    fields->addRow(apply_);
    body->addLayout(fields, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->setObjectName("buttons");
    layout->addWidget(buttons);
    AddHelpButton(*buttons, [] { return std::string("::/Synths.htm"); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(apply_, &QPushButton::clicked, this, [this] { (void)ApplyFields(); });
    connect(tree_, &QTreeWidget::itemSelectionChanged, this, &SynthDatabaseDialog::SelectionChanged);
    connect(tree_, &QTreeWidget::customContextMenuRequested, this, &SynthDatabaseDialog::ContextMenu);
    auto* remove = new QShortcut(QKeySequence::Delete, tree_);
    connect(remove, &QShortcut::activated, this, [this] {
        for (const std::string& command : model_.MenuItems(Selected()))
            if (command.rfind("Remove", 0) == 0)
                return Run(command);
    });

    Rebuild(std::nullopt);
}

void SynthDatabaseDialog::AddItems(QTreeWidgetItem* parent, const std::vector<SynthItem>& items)
{
    for (const SynthItem& item : items) {
        auto* node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree_);
        node->setText(0, QString::fromStdString(model_.ItemText(item)));
        node->setData(0, ItemRole, Pack(item));
        AddItems(node, model_.Children(item));
    }
}

void SynthDatabaseDialog::Rebuild(const std::optional<SynthItem>& select)
{
    {
        const QSignalBlocker block(tree_);
        tree_->clear();
        AddItems(nullptr, model_.Roots());
    }
    if (select)
        Select(*select);
    else
        SelectionChanged();
}

std::optional<SynthItem> SynthDatabaseDialog::Selected() const
{
    const QList<QTreeWidgetItem*> items = tree_->selectedItems();
    if (items.isEmpty())
        return std::nullopt;
    return Unpack(items.front()->data(0, ItemRole));
}

void SynthDatabaseDialog::Select(const SynthItem& item)
{
    for (QTreeWidgetItemIterator it(tree_); *it; ++it) {
        if (Unpack((*it)->data(0, ItemRole)) == item) {
            tree_->setCurrentItem(*it);
            tree_->scrollToItem(*it);
            return;
        }
    }
}

void SynthDatabaseDialog::SelectionChanged()
{
    const std::optional<SynthItem> selected = Selected();
    if (pending_ && selected != pending_) {
        // Leaving a new item without giving it a number cancels its insertion.
        const SynthItem gone = *pending_;
        pending_.reset();
        model_.CancelInsert(gone);
        Rebuild(std::nullopt);
        return;
    }
    setWindowTitle(QString::fromStdString(model_.Title(selected)));
    ShowFields();
}

void SynthDatabaseDialog::ShowFields()
{
    const std::optional<SynthItem> selected = Selected();
    const SynthItemKind kind = selected ? selected->kind : SynthItemKind::PatchesGroup;
    const bool synth = selected && kind == SynthItemKind::Synth;
    const bool numbered = selected && HasNumber(kind);
    const bool drumSet = kind == SynthItemKind::DrumSet;
    numberLabel_->setVisible(numbered);
    number_->setVisible(numbered);
    programLabel_->setVisible(drumSet);
    program_->setVisible(drumSet);
    categoryLabel_->setVisible(kind == SynthItemKind::Patch);
    category_->setVisible(kind == SynthItemKind::Patch);
    cc0Only_->setVisible(synth);
    resetLabel_->setVisible(synth);
    resetText_->setVisible(synth);
    name_->setEnabled(synth || numbered);
    apply_->setEnabled(synth || numbered);
    name_->clear();
    category_->clear();
    if (!selected)
        return;

    const Synthesizer& owner = model_.Synths().at(static_cast<size_t>(selected->synth));
    if (synth) {
        const SynthSettings settings = model_.Settings(selected->synth);
        name_->setMaxLength(static_cast<int>(SynthNameLength));
        name_->setText(QString::fromStdString(settings.name));
        cc0Only_->setChecked(settings.cc0Only);
        resetText_->setText(QString::fromStdString(settings.resetText));
        return;
    }
    if (!numbered)
        return;
    name_->setMaxLength(32767);
    const NumberRange range = model_.Range(*selected);
    number_->setRange(range.low, range.high);
    const std::optional<int32_t> shown = model_.ShownNumber(*selected);
    number_->setValue(shown ? *shown : range.low);
    const auto group = static_cast<size_t>(selected->group);
    const auto entry = static_cast<size_t>(selected->entry);
    std::string name;
    switch (kind) {
    case SynthItemKind::Bank:
        name = owner.banks.at(group).name;
        break;
    case SynthItemKind::Patch:
        name = owner.banks.at(group).patches.at(entry).name;
        category_->setText(QString::fromStdString(owner.banks.at(group).patches.at(entry).category));
        break;
    case SynthItemKind::DrumSet:
        name = owner.drumSets.at(group).name;
        program_->setValue(owner.drumSets.at(group).program + 1);
        break;
    case SynthItemKind::Note:
        name = owner.drumSets.at(group).notes.at(entry).name;
        break;
    case SynthItemKind::Controller:
        name = owner.controllers.at(entry).name;
        break;
    case SynthItemKind::Nrpn:
        name = owner.nrpns.at(entry).name;
        break;
    default:
        break;
    }
    name_->setText(QString::fromStdString(name));
}

bool SynthDatabaseDialog::ApplyFields()
{
    const std::optional<SynthItem> selected = Selected();
    if (!selected)
        return false;
    const std::string name = name_->text().toStdString();
    const int32_t number = number_->value();
    SynthEditResult result;
    result.item = *selected;
    switch (selected->kind) {
    case SynthItemKind::Synth: {
        SynthSettings settings = model_.Settings(selected->synth);
        settings.name = name;
        settings.cc0Only = cc0Only_->isChecked();
        settings.resetText = resetText_->text().toStdString();
        result = model_.EditSynth(selected->synth, settings);
        if (!result) {
            prompter_.Show(result.message, PromptIcon::Error);
            resetText_->setFocus();
            resetText_->setSelection(static_cast<int>(result.selectStart), static_cast<int>(result.selectLength));
            return false;
        }
        result.item = *selected;
        break;
    }
    case SynthItemKind::Bank:
        result = model_.EditBank(*selected, number, name);
        break;
    case SynthItemKind::Patch:
        result = model_.EditPatch(*selected, number, name, category_->text().toStdString());
        break;
    case SynthItemKind::DrumSet:
        result = model_.EditDrumSet(*selected, number, program_->value(), name);
        break;
    case SynthItemKind::Note:
        result = model_.EditNote(*selected, number, name);
        break;
    case SynthItemKind::Controller:
        result = model_.EditController(*selected, number, name);
        break;
    case SynthItemKind::Nrpn:
        result = model_.EditNrpn(*selected, number, name);
        break;
    default:
        return false;
    }
    if (!result) {
        prompter_.Show(result.message, PromptIcon::Error);
        return false;
    }
    pending_.reset();
    Rebuild(result.item);
    return true;
}

void SynthDatabaseDialog::Run(const std::string& command)
{
    const std::optional<SynthItem> selected = Selected();
    if (command == "Import synth") {
        const QStringList paths = QFileDialog::getOpenFileNames(this, "Import synth");
        std::vector<std::string> files;
        for (const QString& path : paths)
            files.push_back(path.toStdString());
        if (files.empty())
            return;
        const std::vector<std::string> messages = model_.Import(files);
        Rebuild(selected);
        for (const std::string& message : messages)
            prompter_.Show(message, PromptIcon::Warning);
        return;
    }
    if (!selected)
        return;
    if (command.rfind("Remove", 0) == 0) {
        if (pending_ && *pending_ == *selected) {
            pending_.reset();
            model_.CancelInsert(*selected);
            Rebuild(std::nullopt);
            return;
        }
        if (model_.Remove(*selected, prompter_))
            Rebuild(std::nullopt);
        return;
    }
    const int synth = selected->synth;
    std::optional<SynthItem> inserted;
    if (command == "Insert bank")
        inserted = model_.InsertBank(synth);
    else if (command == "Insert patch")
        inserted = model_.InsertPatch(synth, selected->group);
    else if (command == "Insert drumset")
        inserted = model_.InsertDrumSet(synth);
    else if (command == "Insert note")
        inserted = model_.InsertNote(synth, selected->group);
    else if (command == "Insert CC")
        inserted = model_.InsertController(synth);
    else if (command == "Insert NRPN")
        inserted = model_.InsertNrpn(synth);
    if (!inserted)
        return;
    {
        // The new item is selected before it counts as pending, so that selecting it does not cancel it.
        Rebuild(*inserted);
        pending_ = inserted;
    }
    name_->setFocus();
    name_->selectAll();
}

void SynthDatabaseDialog::ContextMenu(const QPoint& at)
{
    if (QTreeWidgetItem* item = tree_->itemAt(at))
        tree_->setCurrentItem(item);
    else
        tree_->clearSelection();
    QMenu menu(this);
    for (const std::string& command : model_.MenuItems(Selected())) {
        const QString text = QString::fromStdString(command);
        menu.addAction(text, this, [this, command] { Run(command); });
    }
    menu.exec(tree_->viewport()->mapToGlobal(at));
}

void SynthDatabaseDialog::accept()
{
    if (pending_) {
        // A new item left without its number is not stored.
        model_.CancelInsert(*pending_);
        pending_.reset();
    }
    const SynthDbResult written = model_.WriteBack(database_);
    if (!written) {
        prompter_.Show(written.message, PromptIcon::Error);
        Rebuild(std::nullopt);
        return;
    }
    QDialog::accept();
}

} // namespace cantivo
