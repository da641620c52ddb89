#include "gui/OptionsSheet.h"

#include "gui/HelpButton.h"
#include "song/Profile.h"
#include "song/Prompter.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace cantivo {

namespace {

QString Text(const char* text)
{
    return QString::fromUtf8(text);
}

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

// A number field: typing may go past the field's range so that OK can refuse it with a message, as it
// refuses any other out-of-range number; the arrows stay inside the range.
class RangeSpin final : public QSpinBox {
  public:
    static constexpr int TypedLimit = 99999;

    explicit RangeSpin(const FieldRange& range) : range_(range)
    {
        setRange(std::min(range.low, -TypedLimit), std::max(range.high, TypedLimit));
    }

    void stepBy(int steps) override { setValue(std::clamp(value() + steps, range_.low, range_.high)); }

  protected:
    StepEnabledFlag Up() const { return value() < range_.high ? StepUpEnabled : StepNone; }
    StepEnabledFlag Down() const { return value() > range_.low ? StepDownEnabled : StepNone; }
    StepEnabled stepEnabled() const override { return StepEnabled(Up()) | Down(); }

  private:
    FieldRange range_;
};

// Makes controls that write a page field as they change and then run `changed`.
struct Binder {
    QObject* context;
    std::function<void()> changed;

    QCheckBox* Check(const char* name, const char* label, bool& field) const
    {
        auto* box = new QCheckBox(Text(label));
        box->setObjectName(name);
        box->setChecked(field);
        QObject::connect(box, &QCheckBox::toggled, context, [changed = changed, &field](bool on) {
            field = on;
            changed();
        });
        return box;
    }

    QSpinBox* Number(const char* name, const FieldRange& range, int32_t& field) const
    {
        return Bind(new RangeSpin(range), name, field);
    }

    // A number the page does not check, such as a punch position.
    QSpinBox* Plain(const char* name, int32_t low, int32_t high, int32_t& field) const
    {
        auto* spin = new QSpinBox;
        spin->setRange(low, high);
        return Bind(spin, name, field);
    }

    QComboBox* List(const char* name, const std::vector<std::string>& texts, int32_t& field) const
    {
        auto* list = new QComboBox;
        list->setObjectName(name);
        for (const std::string& text : texts)
            list->addItem(Text(text));
        list->setCurrentIndex(field);
        QObject::connect(list, &QComboBox::currentIndexChanged, context, [changed = changed, &field](int index) {
            if (index < 0)
                return;
            field = index;
            changed();
        });
        return list;
    }

    template <size_t N> QComboBox* List(const char* name, const std::array<const char*, N>& texts, int32_t& field) const
    {
        return List(name, std::vector<std::string>(texts.begin(), texts.end()), field);
    }

    // Radio buttons named `name`0, `name`1, ... in a box.
    template <size_t N>
    QGroupBox* Radios(const char* name, const char* title, const std::array<const char*, N>& texts,
                      int32_t& field) const
    {
        auto* box = new QGroupBox(Text(title));
        auto* layout = new QVBoxLayout(box);
        auto* group = new QButtonGroup(box);
        for (size_t i = 0; i < N; ++i) {
            auto* radio = new QRadioButton(Text(texts[i]));
            radio->setObjectName(QStringLiteral("%1%2").arg(name).arg(i));
            radio->setChecked(static_cast<int32_t>(i) == field);
            group->addButton(radio, static_cast<int>(i));
            layout->addWidget(radio);
        }
        QObject::connect(group, &QButtonGroup::idToggled, context, [changed = changed, &field](int id, bool on) {
            if (!on)
                return;
            field = id;
            changed();
        });
        return box;
    }

    QLineEdit* Line(const char* name, std::string& field) const
    {
        auto* edit = new QLineEdit(Text(field));
        edit->setObjectName(name);
        QObject::connect(edit, &QLineEdit::textEdited, context, [changed = changed, &field](const QString& text) {
            field = text.toStdString();
            changed();
        });
        return edit;
    }

  private:
    QSpinBox* Bind(QSpinBox* spin, const char* name, int32_t& field) const
    {
        spin->setObjectName(name);
        spin->setValue(field);
        QObject::connect(spin, &QSpinBox::valueChanged, context, [changed = changed, &field](int number) {
            field = number;
            changed();
        });
        return spin;
    }
};

// A label followed by controls on one line, as a widget so that a rule can enable them together.
QWidget* Row(const QString& label, std::initializer_list<QWidget*> controls, const QString& unit = {})
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    if (!label.isEmpty())
        layout->addWidget(new QLabel(label));
    for (QWidget* control : controls)
        layout->addWidget(control);
    if (!unit.isEmpty())
        layout->addWidget(new QLabel(unit));
    layout->addStretch();
    return row;
}

QWidget* Page(std::initializer_list<QWidget*> parts, const char* caption = nullptr)
{
    auto* page = new QWidget;
    auto* outer = new QVBoxLayout(page);
    QVBoxLayout* layout = outer;
    if (caption) {
        auto* box = new QGroupBox(Text(caption));
        layout = new QVBoxLayout(box);
        outer->addWidget(box);
    }
    for (QWidget* part : parts)
        layout->addWidget(part);
    outer->addStretch();
    return page;
}

QGroupBox* Group(const char* title, std::initializer_list<QWidget*> parts)
{
    auto* box = new QGroupBox(Text(title));
    auto* layout = new QVBoxLayout(box);
    for (QWidget* part : parts)
        layout->addWidget(part);
    return box;
}

// Stored colours hold red in the low byte, then green, then blue.
QColor FromStored(int32_t color)
{
    return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

int32_t ToStored(const QColor& color)
{
    return color.red() | color.green() << 8 | color.blue() << 16;
}

std::vector<std::string> NoteNumbers()
{
    std::vector<std::string> texts;
    for (int note = 0; note < 128; ++note)
        texts.push_back(std::to_string(note));
    return texts;
}

} // namespace

OptionsSheet::OptionsSheet(Profile& profile, Prompter& prompter, const OptionsLive& live, int page, QWidget* parent)
    : QDialog(parent), profile_(profile), prompter_(prompter),
      options_(profile, live, page >= 0 && page < OptionsPageCount ? static_cast<OptionsPage>(page) : OptionsPage{})
{
    setWindowTitle(Text(COptions::Title));
    setObjectName("optionsSheet");
    auto* layout = new QVBoxLayout(this);
    tabs_ = new QTabWidget;
    tabs_->setObjectName("pages");
    layout->addWidget(tabs_);
    const std::array<QWidget*, OptionsPageCount> pages{StartupPage(),   PlaybackPage(), DisplayPage(), RecordPage(),
                                                       StaffPage(),     AudioPage(),    SavePage(),    LyricsPage(),
                                                       ConductorPage(), SetPage(),      MacrosPage()};
    for (int i = 0; i < OptionsPageCount; ++i)
        tabs_->addTab(pages[static_cast<size_t>(i)], Text(COptions::PageTitle(static_cast<OptionsPage>(i))));
    // Wide enough for every tab title at once, so that no page hides behind the scroll arrows.
    setMinimumWidth(tabs_->tabBar()->sizeHint().width() + 2 * layout->contentsMargins().left());
    tabs_->setCurrentIndex(static_cast<int>(options_.ActivePage()));
    connect(tabs_, &QTabWidget::currentChanged, this,
            [this](int index) { options_.SetActivePage(static_cast<OptionsPage>(index)); });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->setObjectName("buttons");
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Each page its own topic; the pages the help file had none for lead to their section of the options page.
    AddHelpButton(*buttons, [this] {
        const auto page = static_cast<OptionsPage>(tabs_->currentIndex());
        if (const std::string topic = COptions::PageHelp(page); !topic.empty())
            return topic;
        return std::string("::/Options.htm#") + COptions::PageTitle(page);
    });
    Refresh();
}

void OptionsSheet::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (adjustedShown_)
        return;
    adjustedShown_ = true;
    // After the sheet is on screen, so that the message stands over it.
    QTimer::singleShot(0, this, [this] {
        if (const std::string message = options_.AdjustedMessage(); !message.empty())
            prompter_.Show(message, PromptIcon::Information);
    });
}

void OptionsSheet::Refresh()
{
    for (const auto& rule : rules_)
        rule();
}

void OptionsSheet::accept()
{
    outcome_ = options_.Ok(profile_);
    if (!outcome_.accepted) {
        tabs_->setCurrentIndex(outcome_.refusedPage);
        if (outcome_.refusal)
            prompter_.Show(outcome_.refusal->message, PromptIcon::Warning);
        return;
    }
    // The values are in force even when the store refused some of them, so the sheet closes.
    if (!outcome_.message.empty())
        prompter_.Show(outcome_.message, PromptIcon::Error);
    QDialog::accept();
}

QWidget* OptionsSheet::StartupPage()
{
    const Binder bind{this, [this] { Refresh(); }};
    COptionsStartup& page = options_.startup;
    return Page({bind.Check("autoOpen", page.AutoOpenLabel, page.autoOpen),
                 bind.Check("checkForUpdates", page.CheckForUpdatesLabel, page.checkForUpdates)},
                page.Caption);
}

QWidget* OptionsSheet::PlaybackPage()
{
    const Binder bind{this, [this] { Refresh(); }};
    COptionsPlayback& page = options_.playback;
    const PlaybackChoices& choices = page.choices;

    auto* timer = Group(
        "Timer",
        {Row(Text(page.SourceLabel), {bind.List("timerSource", choices.timerSources, page.timerSource)}),
         Row({}, {bind.Number("timerResolution", page.Resolution, page.timerResolution)}, Text(page.ResolutionUnit)),
         Row(Text(page.MinimumLabel), {new QLabel(QString::number(choices.timerMinimum))}),
         Row(Text(page.MaximumLabel), {new QLabel(QString::number(choices.timerMaximum))})});

    // The lists edit the port, channel and patch through the page, which knows how their entries map.
    auto* ports = new QComboBox;
    ports->setObjectName("clickPort");
    for (const ClickPortEntry& entry : choices.ports)
        ports->addItem(Text(entry.text));
    ports->setCurrentIndex(page.PortIndex());
    auto* drumSets = new QComboBox;
    drumSets->setObjectName("clickDrumSet");
    auto fillDrumSets = [&page, drumSets] {
        const QSignalBlocker quiet(drumSets);
        drumSets->clear();
        for (const ClickDrumSet& set : page.DrumSets())
            drumSets->addItem(Text(set.text));
        drumSets->setCurrentIndex(page.DrumSetIndex());
    };
    fillDrumSets();
    connect(ports, &QComboBox::currentIndexChanged, this, [this, &page, fillDrumSets](int index) {
        page.SelectPort(index);
        fillDrumSets();
        Refresh();
    });
    connect(drumSets, &QComboBox::currentIndexChanged, this, [this, &page](int index) {
        page.SelectDrumSet(index);
        Refresh();
    });

    const std::vector<std::string> notes = NoteNumbers();
    auto* click = Group("Click track",
                        {bind.Check("clickEnabled", page.ClickEnabledLabel, page.clickEnabled),
                         Row(Text(page.LeadLabel), {bind.Number("clickLead", page.Lead, page.leadMilliseconds)}),
                         Row(Text(page.PortLabel), {ports}), Row(Text(page.DrumSetLabel), {drumSets}),
                         new QLabel(Text(page.NotesLabel)),
                         Row("1:", {bind.List("firstNote", notes, page.firstNote), new QLabel(Text(page.VelocityLabel)),
                                    bind.Number("firstVelocity", page.Velocity, page.firstVelocity)}),
                         Row("2:", {bind.List("otherNote", notes, page.otherNote), new QLabel(Text(page.VelocityLabel)),
                                    bind.Number("otherVelocity", page.Velocity, page.otherVelocity)})});

    return Page({timer, click, bind.Check("reassert", page.ReassertLabel, page.reassert),
                 bind.Check("lastVamp", page.LastVampLabel, page.lastVamp)});
}

QWidget* OptionsSheet::DisplayPage()
{
    const Binder bind{this, [this] { Refresh(); }};
    COptionsDisplay& page = options_.display;
    return Page({bind.Check("gradients", page.GradientsLabel, page.values.gradients),
                 bind.Check("smoothScroll", page.SmoothScrollLabel, page.values.smoothScroll)},
                page.Caption);
}

QWidget* OptionsSheet::RecordPage()
{
    const Binder bind{this, [this] { Refresh(); }};
    COptionsRecord& page = options_.record;
    auto* types = new QGroupBox(Text(page.EventTypesLabel));
    auto* typesLayout = new QVBoxLayout(types);
    for (size_t i = 0; i < page.EventTypes.size(); ++i) {
        const QByteArray name = QStringLiteral("eventType%1").arg(i).toUtf8();
        // The name is copied by setObjectName before `name` goes.
        typesLayout->addWidget(bind.Check(name.constData(), page.EventTypes[i], page.eventTypes[i]));
    }
    auto* step = Group(
        "Step", {Row(Text(page.StepSizeLabel), {bind.List("stepSize", page.StepSizes, page.stepSize),
                                                bind.Check("stepDot", page.DottedLabel, page.stepDot)}),
                 Row(Text(page.DurationLabel), {bind.List("stepDuration", page.Durations(), page.stepDuration),
                                                bind.Check("stepDurationDot", page.DottedLabel, page.stepDurationDot)}),
                 Row(Text(page.VelocityLabel), {bind.Number("stepVelocity", page.Velocity, page.stepVelocity)},
                     Text(page.VelocityNote))});
    auto* punch =
        Group("Punch", {Row(Text(page.PunchInLabel), {bind.Plain("punchIn", 0, INT_MAX, page.punch.punchIn)}),
                        Row(Text(page.PunchOutLabel), {bind.Plain("punchOut", 0, INT_MAX, page.punch.punchOut)})});
    return Page({bind.Radios("recordMode", "Mode", page.Modes, page.mode), step, punch,
                 bind.Check("recordClick", page.ClickLabel, page.click),
                 bind.Check("followTempo", page.FollowTempoLabel, page.followTempo),
                 Row(Text(page.CountInLabel), {bind.Number("countIn", page.CountIn, page.countIn)}), types});
}

QWidget* OptionsSheet::StaffPage()
{
    const Binder bind{this, [this] { Refresh(); }};
    COptionsStaff& page = options_.staff;
    return Page({bind.Radios("staffResolution", page.ResolutionLabel, page.Resolutions, page.resolution),
                 bind.Check("fill", page.FillLabel, page.fill), bind.Check("trim", page.TrimLabel, page.trim),
                 Row(Text(page.StaffSizeLabel), {bind.List("printStaffSize", page.StaffSizes, page.printStaffSize)})});
}

QWidget* OptionsSheet::AudioPage()
{
    const Binder bind{this, [this] { Refresh(); }};
    COptionsAudio& page = options_.audio;
    return Page({Row(Text(page.SamplingLabel), {bind.List("sampling", page.Formats(), page.sampling)})}, page.Caption);
}

QWidget* OptionsSheet::SavePage()
{
    const Binder bind{this, [this] { Refresh(); }};
    COptionsSave& page = options_.save;
    // The folder is only chosen through the browser, which hands over a folder that exists.
    auto* folder = new QLineEdit(Text(page.path));
    folder->setObjectName("savePath");
    folder->setReadOnly(true);
    auto* change = new QPushButton(Text(page.ChangeLocationLabel));
    change->setObjectName("changeLocation");
    connect(change, &QPushButton::clicked, this, [this, &page, folder] {
        const QString chosen = QFileDialog::getExistingDirectory(this, {}, Text(page.path));
        if (chosen.isEmpty())
            return;
        page.ChooseFolder(chosen.toStdString());
        folder->setText(Text(page.path));
        Refresh();
    });
    OnRefresh([&page, change] { change->setEnabled(page.defPath == 2); });
    return Page({bind.Radios("defPath", page.NewFilesLabel, page.Locations, page.defPath), Row({}, {folder, change}),
                 bind.Check("backups", page.BackupsLabel, page.backups),
                 Row({},
                     {bind.Check("autoSave", page.AutoSaveLabel, page.autoSave),
                      bind.Number("autoSaveMinutes", page.AutoSaveMinutes, page.autoSaveMinutes)},
                     Text(page.AutoSaveUnit))});
}

QWidget* OptionsSheet::LyricsPage()
{
    const Binder bind{this, [this] { Refresh(); }};
    COptionsLyric& page = options_.lyric;
    auto button = [](const char* name, const char* label) {
        auto* push = new QPushButton(Text(label));
        push->setObjectName(name);
        return push;
    };
    auto colorButton = [this, button](const char* name, const char* label, int32_t& field) {
        QPushButton* push = button(name, label);
        connect(push, &QPushButton::clicked, this, [this, &field] {
            const QColor chosen = QColorDialog::getColor(FromStored(field), this);
            if (!chosen.isValid())
                return;
            field = ToStored(chosen);
            Refresh();
        });
        return push;
    };
    QPushButton* font = button("lyricFont", page.FontLabel);
    connect(font, &QPushButton::clicked, this, [this, &page] {
        QFont current(Text(page.fontName));
        current.setPixelSize(std::max(std::abs(page.fontHeight), 1));
        current.setWeight(static_cast<QFont::Weight>(std::clamp(page.fontWeight, 1, 1000)));
        bool chosen = false;
        const QFont picked = QFontDialog::getFont(&chosen, current, this);
        if (!chosen)
            return;
        page.fontName = picked.family().toStdString();
        // A negative height is the character height in pixels.
        const int pixels = picked.pixelSize() > 0 ? picked.pixelSize() : qRound(picked.pointSizeF() * 96 / 72);
        // Held to what the page loads again without a complaint.
        page.fontHeight = -std::clamp(pixels, page.FontSize.low, page.FontSize.high);
        page.fontWeight = std::clamp(static_cast<int32_t>(picked.weight()), page.FontWeight.low, page.FontWeight.high);
        Refresh();
    });

    auto* preview = new QLabel("Sample lyric text");
    preview->setObjectName("lyricPreview");
    preview->setAutoFillBackground(true);
    OnRefresh([&page, preview] {
        QFont shown(Text(page.fontName));
        shown.setPixelSize(std::max(std::abs(page.fontHeight), 1));
        shown.setWeight(static_cast<QFont::Weight>(std::clamp(page.fontWeight, 1, 1000)));
        preview->setFont(shown);
        QPalette palette = preview->palette();
        palette.setColor(QPalette::WindowText, FromStored(page.color));
        palette.setColor(QPalette::Window, FromStored(page.backColor));
        preview->setPalette(palette);
        preview->setAlignment(page.center ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
    });

    QLineEdit* picture = bind.Line("graphicPath", page.graphicPath);
    QPushButton* browse = button("graphicBrowse", page.GraphicBrowseLabel);
    connect(browse, &QPushButton::clicked, this, [this, &page, picture] {
        const QString chosen = QFileDialog::getOpenFileName(this, Text(page.GraphicDialogTitle), Text(page.graphicPath),
                                                            "Bitmap files (*.bmp)");
        if (chosen.isEmpty())
            return;
        page.graphicPath = chosen.toStdString();
        picture->setText(chosen);
        Refresh();
    });

    return Page(
        {Group("Font", {Row({}, {font, colorButton("lyricColor", page.ColorLabel, page.color),
                                 colorButton("lyricBack", page.BackLabel, page.backColor)})}),
         Row(Text(page.HighlightLabel), {colorButton("highlightColor", page.ColorLabel, page.highlightColor),
                                         colorButton("highlightBack", page.BackLabel, page.highlightBackColor)}),
         bind.Check("center", page.CenterLabel, page.center), bind.Check("paginate", page.PaginateLabel, page.paginate),
         Row({}, {bind.Check("graphic", page.GraphicLabel, page.graphic), picture, browse}),
         bind.Radios("placement", "", page.Placements, page.placement), preview});
}

QWidget* OptionsSheet::ConductorPage()
{
    const Binder bind{this, [this] { Refresh(); }};
    COptionsConductor& page = options_.conductor;
    FollowTapSettings& values = page.values;
    // A slider with its number beside it; both edit the field.
    auto slider = [&bind](const char* name, const char* label, const char* unit, const FieldRange& range,
                          int32_t& field) {
        auto* bar = new QSlider(Qt::Horizontal);
        bar->setObjectName(QStringLiteral("%1Slider").arg(name));
        bar->setRange(range.low, range.high);
        bar->setTickInterval(COptionsConductor::SliderTick);
        bar->setTickPosition(QSlider::TicksBelow);
        bar->setValue(field);
        QSpinBox* number = bind.Number(name, range, field);
        connect(bar, &QSlider::valueChanged, number, &QSpinBox::setValue);
        connect(number, &QSpinBox::valueChanged, bar, &QSlider::setValue);
        return Row(Text(label), {bar, number}, Text(unit));
    };
    QWidget* window = slider("window", page.WindowLabel, page.WindowUnit, page.Window, values.window);
    QCheckBox* forward = bind.Check("jumpForward", page.JumpForwardLabel, values.jumpForward);
    QCheckBox* backward = bind.Check("jumpBackward", page.JumpBackwardLabel, values.jumpBackward);
    QWidget* jumpStrength =
        slider("jumpStrength", page.StrengthLabel, page.JumpUnit, page.Strength, values.jumpStrength);
    QCheckBox* tempoMod = bind.Check("tempoMod", page.TempoModLabel, values.tempoModulation);
    QWidget* modStrength =
        slider("modStrength", page.StrengthLabel, page.PercentUnit, page.Strength, values.modulationStrength);
    OnRefresh([&page, window, forward, backward, jumpStrength, tempoMod, modStrength] {
        window->setEnabled(page.WindowEnabled());
        forward->setEnabled(page.JumpDirectionsEnabled());
        backward->setEnabled(page.JumpDirectionsEnabled());
        jumpStrength->setEnabled(page.JumpStrengthEnabled());
        tempoMod->setEnabled(page.TempoModEnabled());
        modStrength->setEnabled(page.ModStrengthEnabled());
    });
    return Page({bind.Check("conductorEnabled", page.EnabledLabel, values.enabled), window, forward, backward,
                 jumpStrength, tempoMod, modStrength, bind.Check("useAverage", page.AverageLabel, values.useAverage),
                 slider("averageStrength", page.StrengthLabel, page.PercentUnit, page.Strength, values.averageStrength),
                 bind.Check("returnToNormal", page.ReturnLabel, values.returnToNormal),
                 slider("returnRate", page.RateLabel, page.RateUnit, page.Rate, values.returnRate)},
                page.Caption);
}

QWidget* OptionsSheet::SetPage()
{
    const Binder bind{this, [this] { Refresh(); }};
    COptionsSet& page = options_.set;
    QWidget* delay = Row(Text(page.DelayLabel), {bind.List("advanceDelay", page.Delays, page.delay)});
    QCheckBox* resetTempo = bind.Check("resetTempo", page.ResetTempoLabel, page.resetTempo);
    OnRefresh([&page, delay, resetTempo] {
        delay->setEnabled(page.DelayEnabled());
        resetTempo->setEnabled(page.ResetTempoEnabled());
    });
    return Page(
        {Group(page.AdvanceLabel, {Row(Text(page.ModeLabel), {bind.List("autoAdvance", page.Modes, page.autoAdvance)}),
                                   delay, resetTempo}),
         Group(page.ChangingLabel,
               {Row(Text(page.ResetLabel), {bind.List("advanceReset", page.Resets, page.reset)})})});
}

QWidget* OptionsSheet::MacrosPage()
{
    COptionsMacros& page = options_.macros;
    auto* widget = new QWidget;
    auto* layout = new QFormLayout(widget);
    for (size_t i = 0; i < page.Count; ++i) {
        auto* edit = new QLineEdit(Text(page.texts[i]));
        edit->setObjectName(QStringLiteral("macro%1").arg(i + 1));
        // The page keeps the first characters of what is typed; the field shows what is kept.
        connect(edit, &QLineEdit::textEdited, this, [&page, edit, i](const QString& text) {
            page.SetText(i, text.toStdString());
            if (const QString kept = Text(page.texts[i]); kept != text)
                edit->setText(kept);
        });
        layout->addRow(Text(page.Label(i)), edit);
    }
    return widget;
}

} // namespace cantivo
