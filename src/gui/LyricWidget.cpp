#include "gui/LyricWidget.h"

#include "song/Song.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPixmap>

namespace cantivo {

namespace {

// Stored colours are 0x00BBGGRR.
QColor Colour(uint32_t value)
{
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>(value >> 8 & 0xFF),
                  static_cast<int>(value >> 16 & 0xFF));
}

QFont ToQFont(const LyricFont& font)
{
    QFont qfont(QString::fromStdString(font.face));
    // Heights are cell heights in pixels, as the layout measured them.
    qfont.setPixelSize(std::max(font.height, 1));
    qfont.setWeight(font.weight >= 600 ? QFont::Bold : QFont::Normal);
    qfont.setItalic(font.italic);
    qfont.setUnderline(font.underline);
    return qfont;
}

QRect ToQRect(const LyricRect& rect)
{
    return QRect(QPoint(rect.left, rect.top), QPoint(rect.right - 1, rect.bottom - 1));
}

class FontMeasure final : public TextMeasure {
  public:
    TextSize Measure(std::string_view text, const LyricFont& font) const override
    {
        const QFontMetrics metrics(ToQFont(font));
        const QString string = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
        return {metrics.horizontalAdvance(string), metrics.height()};
    }
};

} // namespace

LyricWidget::LyricWidget(QWidget* parent) : QWidget(parent)
{
    setObjectName("lyrics");
    setMinimumSize(200, 120);
    setAutoFillBackground(false);
}

void LyricWidget::SetOptions(const LyricOptions& options)
{
    model_.SetOptions(options);
    ShowSong(song_);
}

void LyricWidget::ShowSong(const Song* song)
{
    song_ = song;
    if (song_ == nullptr) {
        const LyricOptions options = model_.Options();
        model_ = LyricViewModel();
        model_.SetOptions(options);
    } else {
        model_.Rebuild(*song_, LyricViewModel::ChooseTrack(*song_, -1, 1));
    }
    Relayout();
}

void LyricWidget::Follow(int32_t position)
{
    if (song_ == nullptr)
        return;
    const LyricUpdate change = model_.Follow(position);
    if (change.pageChanged)
        update();
    else if (!(change.repaint == LyricRect{}))
        update(ToQRect(change.repaint).adjusted(-2, -2, 2, 2));
}

void LyricWidget::Relayout()
{
    model_.Layout(width(), height(), FontMeasure());
    update();
}

void LyricWidget::resizeEvent(QResizeEvent*)
{
    Relayout();
}

void LyricWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (song_ == nullptr) {
        painter.fillRect(rect(), Qt::white);
        return;
    }
    const LyricFrame frame = model_.Frame(*song_);
    painter.fillRect(rect(), Colour(frame.background));
    if (!frame.picture.empty()) {
        const QPixmap picture(QString::fromStdString(frame.picture));
        if (!picture.isNull()) {
            switch (frame.pictureMode) {
            case LyricPictureMode::Tiled:
                painter.drawTiledPixmap(rect(), picture);
                break;
            case LyricPictureMode::Centred:
                painter.drawPixmap((width() - picture.width()) / 2, (height() - picture.height()) / 2, picture);
                break;
            case LyricPictureMode::Stretched:
                painter.drawPixmap(rect(), picture);
                break;
            }
        }
    }
    if (!frame.gutter.Empty()) {
        painter.fillRect(ToQRect(frame.gutter), Colour(frame.gutterColour));
        painter.setPen(Colour(frame.gutterTextColour));
        for (const LyricText& label : frame.measureLabels)
            painter.drawText(ToQRect(label.rect), Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(label.text));
    }
    painter.setFont(ToQFont(frame.titleFont));
    painter.setPen(Colour(frame.titleColour));
    for (const LyricText& line : frame.title)
        painter.drawText(ToQRect(line.rect), Qt::AlignHCenter | Qt::AlignVCenter, QString::fromStdString(line.text));
    for (const LyricPaintItem& item : frame.items) {
        const QRect box = ToQRect(item.rect);
        if (item.fill)
            painter.fillRect(box, Colour(*item.fill));
        if (item.edge) {
            painter.setPen(Colour(item.textColour));
            painter.drawRect(box);
        }
        painter.setFont(ToQFont(item.font));
        painter.setPen(Colour(item.textColour));
        painter.drawText(box.adjusted(item.inset, 0, -item.inset, 0), Qt::AlignLeft | Qt::AlignVCenter,
                         QString::fromStdString(item.text));
    }
    if (frame.ball) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(QColor(220, 40, 40));
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(ToQRect(*frame.ball));
    }
}

} // namespace cantivo
