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

    // Redraws when the model's rows changed since the last call.
    void Refresh(const SetViewModel* model);
    // The row under the cursor: its set position and cue (-1: the song itself); false when none.
    bool CurrentRow(int& position, int& cue) const;

  signals:
    void Go(int position, int cue);
    void Expand(int position, bool expanded);

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    std::vector<SetItem> shown_;
    int shownCurrent_ = -2;
    bool refreshing_ = false;
};

} // namespace cantivo
