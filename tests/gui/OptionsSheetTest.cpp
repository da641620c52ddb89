#include "gui/OptionsSheet.h"
#include "support/TestContext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>

using namespace cantivo;

namespace {

constexpr int32_t Absent = -12345;

template <typename T> T* Child(QWidget& parent, const QString& name)
{
    T* child = parent.findChild<T*>(name);
    if (!child)
        qFatal("no control %s", qPrintable(name));
    return child;
}

void Press(OptionsSheet& sheet, QDialogButtonBox::StandardButton which)
{
    Child<QDialogButtonBox>(sheet, "buttons")->button(which)->click();
}

} // namespace

class OptionsSheetTest : public QObject {
    Q_OBJECT
  private slots:
    void ElevenTabsInOrderOpenAtTheAskedPage();
    void EditsLandInTheStoreOnOk_data();
    void EditsLandInTheStoreOnOk();
    void CancelWritesNothing();
    void OutOfRangeStoredValueShowsClampedWithOneMessage();
    void TypedNumberOutsideItsRangeIsRefused();
    void EnablingFollowsTheControllingBoxes();
};

void OptionsSheetTest::ElevenTabsInOrderOpenAtTheAskedPage()
{
    test::MemoryProfile profile;
    test::ScriptedPrompter prompter;
    OptionsSheet sheet(profile, prompter, OptionsLive{}, static_cast<int>(OptionsPage::Lyrics));
    QCOMPARE(sheet.windowTitle(), QString("Cantivo Options..."));
    auto* tabs = Child<QTabWidget>(sheet, "pages");
    const QStringList titles{"Startup", "Playback", "Display",   "Record", "Staff", "Audio",
                             "Save",    "Lyrics",   "Conductor", "Set",    "Macros"};
    QCOMPARE(tabs->count(), titles.size());
    for (int i = 0; i < tabs->count(); ++i)
        QCOMPARE(tabs->tabText(i), titles[i]);
    QCOMPARE(tabs->currentIndex(), 7);
}

void OptionsSheetTest::EditsLandInTheStoreOnOk_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("number"); // check state, list index or spin value
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("stored");
    QTest::newRow("check box") << 0 << "checkForUpdates" << 1 << "StartupOptions"
                               << "CheckForUpdates" << 1;
    QTest::newRow("record event type") << 3 << "eventType1" << 1 << "RecordOptions"
                                       << "EventFilter" << 0xDF00;
    QTest::newRow("number field") << 6 << "autoSaveMinutes" << 45 << "SaveOptions"
                                  << "AutoSaveMin" << 45;
    QTest::newRow("list in seconds") << 9 << "advanceDelay" << 2 << "PlaybackOptions"
                                     << "AdvanceWait" << 2000;
    QTest::newRow("slider's number") << 8 << "window" << 35 << "FollowTap"
                                     << "Window" << 35;
}

void OptionsSheetTest::EditsLandInTheStoreOnOk()
{
    QFETCH(int, page);
    QFETCH(QString, control);
    QFETCH(int, number);
    QFETCH(QString, section);
    QFETCH(QString, value);
    QFETCH(int, stored);
    test::MemoryProfile profile;
    test::ScriptedPrompter prompter;
    // Opened elsewhere than the edited page, so that Startup is written only when it was visited.
    OptionsSheet sheet(profile, prompter, OptionsLive{}, static_cast<int>(OptionsPage::Macros));
    Child<QTabWidget>(sheet, "pages")->setCurrentIndex(page);
    if (auto* box = sheet.findChild<QCheckBox*>(control))
        box->setChecked(number != 0);
    else if (auto* list = sheet.findChild<QComboBox*>(control))
        list->setCurrentIndex(number);
    else
        Child<QSpinBox>(sheet, control)->setValue(number);

    Press(sheet, QDialogButtonBox::Ok);
    QCOMPARE(sheet.result(), int(QDialog::Accepted));
    QVERIFY(sheet.Outcome().accepted);
    QVERIFY(sheet.Outcome().applied[static_cast<size_t>(page)]);
    QCOMPARE(profile.GetInt(section.toStdString(), value.toStdString(), Absent), stored);
    // The pages not visited keep the store as it was.
    QCOMPARE(profile.GetInt("StartupOptions", "AutoOpen", Absent), page == 0 ? 1 : Absent);
    QCOMPARE(prompter.messages, std::vector<std::string>{});
}

void OptionsSheetTest::CancelWritesNothing()
{
    test::MemoryProfile profile;
    test::ScriptedPrompter prompter;
    OptionsSheet sheet(profile, prompter, OptionsLive{}, static_cast<int>(OptionsPage::Macros));
    QTest::keyClicks(Child<QLineEdit>(sheet, "macro3"), "Chorus");
    QCOMPARE(sheet.Options().macros.texts[2], std::string("Chorus"));
    Press(sheet, QDialogButtonBox::Cancel);
    QCOMPARE(sheet.result(), int(QDialog::Rejected));
    QVERIFY(!sheet.Outcome().accepted);
    QCOMPARE(profile.GetString("Macros", "3", "none"), std::string("none"));
}

void OptionsSheetTest::OutOfRangeStoredValueShowsClampedWithOneMessage()
{
    test::MemoryProfile profile;
    test::ScriptedPrompter prompter;
    QVERIFY(profile.WriteInt("SaveOptions", "AutoSaveMin", 500));
    OptionsSheet sheet(profile, prompter, OptionsLive{}, static_cast<int>(OptionsPage::Save));
    QCOMPARE(Child<QSpinBox>(sheet, "autoSaveMinutes")->value(), 180);
    sheet.show();
    QTRY_COMPARE(prompter.messages.size(), size_t{1});
    QVERIFY(prompter.messages[0].find("AutoSaveMin: 500 is shown as 180") != std::string::npos);
    QVERIFY(prompter.messages[0].find("Nothing is lost") != std::string::npos);
    sheet.hide();
    sheet.show();
    QTest::qWait(20);
    QCOMPARE(prompter.messages.size(), size_t{1});
    QCOMPARE(profile.GetInt("SaveOptions", "AutoSaveMin", Absent), 500);
    Press(sheet, QDialogButtonBox::Ok);
    QCOMPARE(profile.GetInt("SaveOptions", "AutoSaveMin", Absent), 180);
}

void OptionsSheetTest::TypedNumberOutsideItsRangeIsRefused()
{
    test::MemoryProfile profile;
    test::ScriptedPrompter prompter;
    OptionsSheet sheet(profile, prompter, OptionsLive{}, static_cast<int>(OptionsPage::Save));
    auto* minutes = Child<QSpinBox>(sheet, "autoSaveMinutes");
    minutes->setValue(1);
    minutes->stepBy(-3); // the arrows stop at the range
    QCOMPARE(minutes->value(), 1);
    minutes->setValue(0);
    auto* tabs = Child<QTabWidget>(sheet, "pages");
    tabs->setCurrentIndex(0);
    Child<QCheckBox>(sheet, "autoOpen")->setChecked(false);

    Press(sheet, QDialogButtonBox::Ok);
    QCOMPARE(prompter.messages, std::vector<std::string>{"Please enter an integer between 1 and 180."});
    QCOMPARE(sheet.result(), int(QDialog::Rejected));
    QCOMPARE(tabs->currentIndex(), static_cast<int>(OptionsPage::Save));
    QCOMPARE(profile.GetInt("StartupOptions", "AutoOpen", Absent), Absent);
    QCOMPARE(profile.GetInt("SaveOptions", "AutoSaveMin", Absent), Absent);

    minutes->setValue(30);
    Press(sheet, QDialogButtonBox::Ok);
    QCOMPARE(sheet.result(), int(QDialog::Accepted));
    QCOMPARE(profile.GetInt("SaveOptions", "AutoSaveMin", Absent), 30);
    QCOMPARE(profile.GetInt("StartupOptions", "AutoOpen", Absent), 0);
}

void OptionsSheetTest::EnablingFollowsTheControllingBoxes()
{
    test::MemoryProfile profile;
    test::ScriptedPrompter prompter;
    OptionsSheet sheet(profile, prompter, OptionsLive{});

    auto* mode = Child<QComboBox>(sheet, "autoAdvance");
    auto* delay = Child<QComboBox>(sheet, "advanceDelay");
    auto* resetTempo = Child<QCheckBox>(sheet, "resetTempo");
    QVERIFY(delay->isEnabled() && resetTempo->isEnabled());
    mode->setCurrentIndex(0);
    QVERIFY(!delay->isEnabled() && !resetTempo->isEnabled());
    mode->setCurrentIndex(2);
    QVERIFY(delay->isEnabled() && resetTempo->isEnabled());

    // An empty store: sensing off, so its dependants are off; the average is always on.
    auto* enabled = Child<QCheckBox>(sheet, "conductorEnabled");
    auto* strength = Child<QSpinBox>(sheet, "jumpStrength");
    QVERIFY(!enabled->isChecked());
    QVERIFY(!strength->isEnabled() && !Child<QCheckBox>(sheet, "jumpForward")->isEnabled());
    QVERIFY(Child<QSpinBox>(sheet, "averageStrength")->isEnabled());
    enabled->setChecked(true);
    QVERIFY(strength->isEnabled());
    Child<QCheckBox>(sheet, "jumpForward")->setChecked(false);
    QVERIFY(!strength->isEnabled());
    Child<QCheckBox>(sheet, "jumpBackward")->setChecked(true);
    QVERIFY(strength->isEnabled());
}

QTEST_MAIN(OptionsSheetTest)
#include "OptionsSheetTest.moc"
