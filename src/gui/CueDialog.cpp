#include "gui/CueDialog.h"

#include "gui/HelpButton.h"
#include "song/Prompter.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QSpinBox>

#include <climits>

namespace cantivo {

CueDialog::CueDialog(CueDialogModel& model, Prompter& prompter, QWidget* parent)
    : QDialog(parent), model_(model), prompter_(prompter)
{
    setWindowTitle(model_.Title());
    setObjectName("cueDialog");
    auto* form = new QFormLayout(this);

    kind_ = new QComboBox;
    kind_->setObjectName("kind");
    for (const char* name : CueDialogModel::KindNames())
        kind_->addItem(QString::fromUtf8(name));
    form->addRow("Type:", kind_);

    label_ = new QLineEdit;
    label_->setObjectName("label");
    form->addRow("Label:", label_);

    count_ = new QSpinBox;
    count_->setObjectName("count");
    count_->setRange(0, INT_MAX);
    form->addRow("How many:", count_);

    stopAt_ = new QLineEdit;
    stopAt_->setObjectName("stopAt");
    form->addRow("Stop at:", stopAt_);
    restartAt_ = new QLineEdit;
    restartAt_->setObjectName("restartAt");
    form->addRow("Restart at:", restartAt_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->setObjectName("buttons");
    form->addRow(buttons);
    AddHelpButton(*buttons, [] { return std::string("::/Cues.htm#DIALOG"); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    label_->setText(QString::fromStdString(model_.Label()));
    count_->setValue(model_.Count());
    ShowFields();
    connect(kind_, &QComboBox::currentIndexChanged, this, &CueDialog::KindChanged);
}

void CueDialog::ShowFields()
{
    const QSignalBlocker block(kind_);
    kind_->setCurrentIndex(model_.Kind());
    stopAt_->setText(QString::fromStdString(model_.StopAtText()));
    restartAt_->setText(QString::fromStdString(model_.RestartAtText()));
    count_->setEnabled(model_.CountEnabled());
    restartAt_->setEnabled(model_.RestartAtEnabled());
}

bool CueDialog::CommitTimes(std::string& error)
{
    return model_.SetStopAtText(stopAt_->text().toStdString(), error) &&
           model_.SetRestartAtText(restartAt_->text().toStdString(), error);
}

void CueDialog::KindChanged(int kind)
{
    // The new kind may swap the two times, so the model must hold what was typed first; a time that
    // does not read stays as typed for OK to report.
    std::string error;
    const bool timesRead = CommitTimes(error);
    if (!model_.SetKind(kind, error)) {
        prompter_.Show(error, PromptIcon::Error);
        ShowFields();
        return;
    }
    if (timesRead) {
        ShowFields();
        return;
    }
    count_->setEnabled(model_.CountEnabled());
    restartAt_->setEnabled(model_.RestartAtEnabled());
}

void CueDialog::accept()
{
    std::string error;
    model_.SetLabel(label_->text().toStdString());
    if (!model_.SetCount(count_->value(), error) || !CommitTimes(error)) {
        prompter_.Show(error, PromptIcon::Error);
        return;
    }
    CueDialogResult checked = model_.Accept();
    if (!checked.cue) {
        prompter_.Show(checked.error, PromptIcon::Error);
        return;
    }
    result_ = std::move(checked.cue);
    QDialog::accept();
}

} // namespace cantivo
