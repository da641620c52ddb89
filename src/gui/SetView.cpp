#include "gui/SetView.h"

#include <QHeaderView>
#include <QKeyEvent>

namespace cantivo {

namespace {

constexpr int PositionRole = Qt::UserRole;
constexpr int CueRole = Qt::UserRole + 1;

bool SameRows(const std::vector<SetItem>& a, const std::vector<SetItem>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].kind != b[i].kind || a[i].position != b[i].position || a[i].cue != b[i].cue ||
            a[i].text != b[i].text || a[i].stateImage != b[i].stateImage || a[i].expanded != b[i].expanded)
            return false;
    return true;
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

void SetView::Refresh(const SetViewModel* model)
{
    std::vector<SetItem> rows = model != nullptr ? model->Items() : std::vector<SetItem>{};
    const int current = model != nullptr ? model->Current() : -1;
    if (SameRows(rows, shown_) && current == shownCurrent_)
        return;
    refreshing_ = true;
    clear();
    QTreeWidgetItem* song = nullptr;
    QTreeWidgetItem* currentItem = nullptr;
    for (const SetItem& row : rows) {
        auto* item = new QTreeWidgetItem();
        // The end-of-set row's image is its own, not a playing marker.
        const QString mark = row.kind == SetItem::Kind::End ? QStringLiteral("   ") : StateMark(row.stateImage);
        item->setText(0, mark + QString::fromStdString(row.text));
        item->setData(0, PositionRole, row.position);
        item->setData(0, CueRole, row.cue);
        if (row.kind == SetItem::Kind::Cue && song != nullptr) {
            song->addChild(item);
        } else {
            addTopLevelItem(item);
            song = row.kind == SetItem::Kind::Song ? item : nullptr;
            if (row.kind == SetItem::Kind::End)
                item->setForeground(0, palette().placeholderText());
            if (row.position == current)
                currentItem = item;
        }
    }
    for (const SetItem& row : rows)
        if (row.kind == SetItem::Kind::Song && row.expanded)
            for (int i = 0; i < topLevelItemCount(); ++i)
                if (topLevelItem(i)->data(0, PositionRole).toInt() == row.position)
                    topLevelItem(i)->setExpanded(true);
    if (currentItem != nullptr) {
        QFont bold = currentItem->font(0);
        bold.setBold(true);
        currentItem->setFont(0, bold);
        setCurrentItem(currentItem);
    }
    shown_ = std::move(rows);
    shownCurrent_ = current;
    refreshing_ = false;
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
