#include "gui/SetView.h"

#include <QHeaderView>
#include <QKeyEvent>

namespace cantivo {

namespace {

constexpr int PositionRole = Qt::UserRole;
constexpr int CueRole = Qt::UserRole + 1;

// Rows that stand for the same songs and cues in the same order: the tree is updated in place.
bool SameShape(const std::vector<SetItem>& a, const std::vector<SetItem>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].kind != b[i].kind || a[i].position != b[i].position || a[i].cue != b[i].cue)
            return false;
    return true;
}

bool SameRow(const SetItem& a, const SetItem& b)
{
    return a.text == b.text && a.stateImage == b.stateImage && a.expanded == b.expanded;
}

// The state images: 2 where playback stands, 3 a song not read yet, 1 the rest.
QString StateMark(int stateImage)
{
    switch (stateImage) {
    case 2:
        return QStringLiteral("\u25B6 ");
    case 3:
        return QStringLiteral("\u25CC ");
    default:
        return QStringLiteral("   ");
    }
}

} // namespace

SetView::SetView(QWidget* parent) : QTreeWidget(parent)
{
    setObjectName("setView");
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setUniformRowHeights(true);
    connect(this, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item, int) {
        emit Go(item->data(0, PositionRole).toInt(), item->data(0, CueRole).toInt());
    });
    connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
        if (!refreshing_)
            emit Expand(item->data(0, PositionRole).toInt(), true);
    });
    connect(this, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* item) {
        if (!refreshing_)
            emit Expand(item->data(0, PositionRole).toInt(), false);
    });
}

void SetView::Refresh(const SetViewModel* model, bool force)
{
    if (!force && model == shownModel_ && (model == nullptr || model->Revision() == shownRevision_))
        return;
    shownModel_ = model;
    shownRevision_ = model != nullptr ? model->Revision() : 0;
    std::vector<SetItem> rows = model != nullptr ? model->Items() : std::vector<SetItem>{};
    const int current = model != nullptr ? model->Current() : -1;
    const bool currentMoved = current != shownCurrent_;
    if (!currentMoved && SameShape(rows, shown_)) {
        bool same = true;
        for (size_t i = 0; i < rows.size() && same; ++i)
            same = SameRow(rows[i], shown_[i]);
        if (same)
            return;
    }
    refreshing_ = true;
    // The row the user is on, so that a refresh during playback leaves it where it is.
    int userPosition = -1, userCue = -1;
    const bool userRow = CurrentRow(userPosition, userCue);
    if (SameShape(rows, shown_)) {
        for (size_t i = 0; i < rows.size(); ++i)
            Update(items_[i], rows[i], rows[i].kind != SetItem::Kind::Cue && rows[i].position == current);
    } else {
        Rebuild(rows);
        for (size_t i = 0; i < rows.size(); ++i)
            Update(items_[i], rows[i], rows[i].kind != SetItem::Kind::Cue && rows[i].position == current);
    }
    // A new current song takes the cursor, unless the user is on one of its rows already ("Go" on a cue).
    const bool toCurrent = currentMoved && !(userRow && userPosition == current);
    QTreeWidgetItem* cursor = nullptr;
    for (size_t i = 0; i < rows.size() && cursor == nullptr; ++i) {
        const bool song = rows[i].kind != SetItem::Kind::Cue;
        if (toCurrent ? song && rows[i].position == current
                      : userRow && rows[i].position == userPosition && (song ? -1 : rows[i].cue) == userCue)
            cursor = items_[i];
    }
    if (cursor != nullptr && cursor != currentItem())
        setCurrentItem(cursor);
    shown_ = std::move(rows);
    shownCurrent_ = current;
    refreshing_ = false;
}

void SetView::Rebuild(const std::vector<SetItem>& rows)
{
    clear();
    items_.clear();
    QTreeWidgetItem* song = nullptr;
    for (const SetItem& row : rows) {
        auto* item = new QTreeWidgetItem();
        item->setData(0, PositionRole, row.position);
        item->setData(0, CueRole, row.cue);
        if (row.kind == SetItem::Kind::Cue && song != nullptr) {
            song->addChild(item);
        } else {
            addTopLevelItem(item);
            song = row.kind == SetItem::Kind::Song ? item : nullptr;
            if (row.kind == SetItem::Kind::End)
                item->setForeground(0, palette().placeholderText());
        }
        items_.push_back(item);
    }
}

void SetView::Update(QTreeWidgetItem* item, const SetItem& row, bool current)
{
    // The end-of-set row's image is its own, not a playing marker.
    const QString mark = row.kind == SetItem::Kind::End ? QStringLiteral("   ") : StateMark(row.stateImage);
    const QString text = mark + QString::fromStdString(row.text);
    if (item->text(0) != text)
        item->setText(0, text);
    if (item->font(0).bold() != current) {
        QFont font = item->font(0);
        font.setBold(current);
        item->setFont(0, font);
    }
    if (row.kind == SetItem::Kind::Song && item->isExpanded() != row.expanded)
        item->setExpanded(row.expanded);
}

bool SetView::CurrentRow(int& position, int& cue) const
{
    const QTreeWidgetItem* item = currentItem();
    if (item == nullptr)
        return false;
    position = item->data(0, PositionRole).toInt();
    cue = item->data(0, CueRole).toInt();
    return true;
}

void SetView::keyPressEvent(QKeyEvent* event)
{
    // Enter is "Go" by way of the accelerator map; the tree's own handling would also activate.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->ignore();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

} // namespace cantivo
