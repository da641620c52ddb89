#include "gui/HelpButton.h"

#include "app/HelpTopics.h"
#include "set/DataFolder.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPushButton>

namespace cantivo {

namespace {

HelpOpener& Opener()
{
    static HelpOpener opener;
    return opener;
}

} // namespace

void SetHelpOpener(HelpOpener opener)
{
    Opener() = std::move(opener);
}

QUrl HelpUrl(const std::string& topic)
{
    return QUrl(QString::fromStdString(HelpPageUrl(FindDataFolder() + "/help", FindHelpPage(topic))));
}

QPushButton* AddHelpButton(QDialogButtonBox& buttons, std::function<std::string()> topic)
{
    QPushButton* help = buttons.addButton(QDialogButtonBox::Help);
    help->setObjectName("help");
    QObject::connect(&buttons, &QDialogButtonBox::helpRequested, &buttons, [&buttons, topic = std::move(topic)] {
        const QUrl url = HelpUrl(topic());
        const bool opened = Opener() ? Opener()(url) : QDesktopServices::openUrl(url);
        if (!opened)
            QMessageBox::information(buttons.window(), QApplication::applicationDisplayName(),
                                     "No browser could open " + url.toString());
    });
    return help;
}

} // namespace cantivo
