#include "gui/NewDialog.h"

#include "gui/HelpButton.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace cantivo {

NewDialog::NewDialog(const std::vector<std::string>& choices, int initialChoice, const std::string& location,
                     bool setOpen, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle("New...");
    setObjectName("newDialog");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Choose one of:"));
    choices_ = new QListWidget;
    choices_->setObjectName("choices");
    for (const std::string& choice : choices)
        choices_->addItem(QString::fromStdString(choice));
    choices_->setCurrentRow(std::clamp(initialChoice, 0, std::max(choices_->count() - 1, 0)));
    layout->addWidget(choices_);
    addToSet_ = new QCheckBox("Add new song to current set");
    addToSet_->setObjectName("addToSet");
    addToSet_->setChecked(setOpen);
    addToSet_->setEnabled(setOpen);
    layout->addWidget(addToSet_);
    auto* form = new QFormLayout;
    name_ = new QLineEdit;
    name_->setObjectName("name");
    form->addRow("Name:", name_);
    auto* where = new QHBoxLayout;
    location_ = new QLineEdit(QString::fromStdString(location));
    location_->setObjectName("location");
    auto* browse = new QPushButton("...");
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString folder = QFileDialog::getExistingDirectory(this, "Location:", location_->text());
        if (!folder.isEmpty())
            location_->setText(folder);
    });
    where->addWidget(location_, 1);
    where->addWidget(browse);
    form->addRow("Location:", where);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    AddHelpButton(*buttons, [] { return std::string("::/FileNew.htm"); });
    name_->setFocus();
}

NewRequest NewDialog::Request() const
{
    NewRequest request;
    if (const QListWidgetItem* item = choices_->currentItem())
        request.choice = item->text().toStdString();
    request.name = name_->text().trimmed().toStdString();
    request.location = location_->text().trimmed().toStdString();
    request.addToSet = addToSet_->isEnabled() && addToSet_->isChecked();
    return request;
}

std::optional<DeleteChoice> AskDeleteChoice(const std::string& title, DeleteChoice initial, QWidget* parent)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(QString::fromStdString("Delete song: " + title));
    dialog.setObjectName("deleteSongDialog");
    auto* layout = new QVBoxLayout(&dialog);
    auto* only = new QRadioButton("Only remove the song from the set");
    auto* trash =
        new QRadioButton("Remove the song from the set and move all files associated with the song to the recycle bin");
    only->setObjectName("removeOnly");
    trash->setObjectName("removeAndTrash");
    (initial == DeleteChoice::RemoveAndTrash ? trash : only)->setChecked(true);
    layout->addWidget(only);
    layout->addWidget(trash);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    AddHelpButton(*buttons, [] { return std::string("::/Sets.htm#DELETE"); });
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return trash->isChecked() ? DeleteChoice::RemoveAndTrash : DeleteChoice::RemoveFromSet;
}

} // namespace cantivo
