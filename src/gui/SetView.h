#pragma once

#include "set/SetViewModel.h"

#include <QTreeWidget>

#include <vector>

namespace cantivo {

// The set view: the songs of the set and their cues as a tree, with the state images (where
// playback stands, songs not read yet), the playing marker and the end-of-set item. It only draws
// the model's rows; Enter or a double click is "Go".
class SetView final : public QTreeWidget {
    Q_OBJECT
  public:
    explicit SetView(QWidget* parent = nullptr);

    // Redraws what changed in the model's rows since the last call, in place, keeping the user's
    // row; the cursor moves only when the current song changes. Without `force` a model whose
    // revision is unchanged is not read at all (edits inside a song need `force`).
    void Refresh(const SetViewModel* model, bool force = false);
    // The row under the cursor: its set position and cue (-1: the song itself); false when none.
    bool CurrentRow(int& position, int& cue) const;

  signals:
    void Go(int position, int cue);
    void Expand(int position, bool expanded);

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void Rebuild(const std::vector<SetItem>& rows);
    void Update(QTreeWidgetItem* item, const SetItem& row, bool current);

    std::vector<SetItem> shown_;
    std::vector<QTreeWidgetItem*> items_; // one per shown row
    const SetViewModel* shownModel_ = nullptr;
    uint64_t shownRevision_ = 0;
    int shownCurrent_ = -2;
    bool refreshing_ = false;
};

} // namespace cantivo
