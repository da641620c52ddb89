#include "gui/SynthDatabaseDialog.h"
#include "support/TestContext.h"
#include "synthdb/SynthDatabase.h"
#include "synthdb/SynthFile.h"

#include <QLineEdit>
#include <QSpinBox>
#include <QTest>
#include <QTreeWidget>

using namespace cantivo;

namespace {

constexpr const char* BoxText = "[Bank 0:Main]\n0=Piano\n1=Organ\n[Controllers]\n7=Level\n";

const SynthItem Organ{SynthItemKind::Patch, 0, 0, 1};

std::unique_ptr<SynthDatabase> BoxDatabase()
{
    std::string warning;
    std::unique_ptr<SynthDatabase> database = SynthDatabase::Open({":memory:", ""}, warning);
    Synthesizer box = ParseSynthText("Box", BoxText).synth;
    if (!database || !database->WriteSynth(box))
        qFatal("no database");
    return database;
}

std::vector<std::string> PatchNames(SynthDatabase& database)
{
    SynthEditorModel model;
    model.Load(database);
    std::vector<std::string> names;
    for (const SynthPatch& patch : model.Synths().at(0).banks.at(0).patches)
        names.push_back(patch.name);
    return names;
}

} // namespace

class SynthDatabaseDialogTest : public QObject {
    Q_OBJECT
  private slots:
    void EditsReachTheDatabaseOnlyOnOk_data();
    void EditsReachTheDatabaseOnlyOnOk();
    void RefusedNumberKeepsTheFields();
    void NewItemLeftWithoutApplyIsDropped();
};

void SynthDatabaseDialogTest::EditsReachTheDatabaseOnlyOnOk_data()
{
    QTest::addColumn<bool>("ok");
    QTest::newRow("ok writes") << true;
    QTest::newRow("cancel drops") << false;
}

void SynthDatabaseDialogTest::EditsReachTheDatabaseOnlyOnOk()
{
    QFETCH(bool, ok);
    test::ScriptedPrompter prompter;
    std::unique_ptr<SynthDatabase> database = BoxDatabase();
    SynthDatabaseDialog dialog(*database, prompter);
    QCOMPARE(dialog.windowTitle(), QString("Synth database..."));
    dialog.Select(Organ);
    QCOMPARE(dialog.windowTitle(), QString("Synth database [Box] ..."));
    auto* name = dialog.findChild<QLineEdit*>("name");
    QCOMPARE(name->text(), QString("Organ"));
    QCOMPARE(dialog.findChild<QSpinBox*>("number")->value(), 2); // patches count from 1
    name->setText("Strings");
    QVERIFY(dialog.ApplyFields());
    QCOMPARE(dialog.findChild<QTreeWidget*>("tree")->currentItem()->text(0), QString("2: Strings"));
    QCOMPARE(PatchNames(*database), (std::vector<std::string>{"Piano", "Organ"}));

    if (ok)
        dialog.accept();
    else
        dialog.reject();
    QCOMPARE(PatchNames(*database),
             (std::vector<std::string>{"Piano", ok ? std::string("Strings") : std::string("Organ")}));
    QCOMPARE(prompter.messages, std::vector<std::string>{});
}

void SynthDatabaseDialogTest::RefusedNumberKeepsTheFields()
{
    test::ScriptedPrompter prompter;
    std::unique_ptr<SynthDatabase> database = BoxDatabase();
    SynthDatabaseDialog dialog(*database, prompter);
    dialog.Select(Organ);
    dialog.findChild<QLineEdit*>("name")->setText("Strings");
    dialog.findChild<QSpinBox*>("number")->setValue(1);
    QVERIFY(!dialog.ApplyFields());
    QCOMPARE(prompter.messages, std::vector<std::string>{"That patch number is already in use."});
    QCOMPARE(dialog.findChild<QLineEdit*>("name")->text(), QString("Strings"));
    QCOMPARE(dialog.Model().Synths().at(0).banks.at(0).patches.at(1).name, std::string("Organ"));
}

void SynthDatabaseDialogTest::NewItemLeftWithoutApplyIsDropped()
{
    test::ScriptedPrompter prompter;
    std::unique_ptr<SynthDatabase> database = BoxDatabase();
    SynthDatabaseDialog dialog(*database, prompter);
    dialog.Select(SynthItem{SynthItemKind::Bank, 0, 0});
    dialog.Run("Insert patch");
    QCOMPARE(dialog.Model().Synths().at(0).banks.at(0).patches.size(), size_t{3});
    QCOMPARE(dialog.findChild<QLineEdit*>("name")->text(), QString("New Patch"));
    dialog.Select(Organ);
    QCOMPARE(dialog.Model().Synths().at(0).banks.at(0).patches.size(), size_t{2});

    // Given its number and name, it stays.
    dialog.Select(SynthItem{SynthItemKind::Bank, 0, 0});
    dialog.Run("Insert patch");
    dialog.findChild<QLineEdit*>("name")->setText("Bass");
    QVERIFY(dialog.ApplyFields());
    dialog.Select(Organ);
    dialog.accept();
    QCOMPARE(PatchNames(*database), (std::vector<std::string>{"Piano", "Organ", "Bass"}));
}

QTEST_MAIN(SynthDatabaseDialogTest)
#include "SynthDatabaseDialogTest.moc"
