#pragma once

#include "edit/UndoStep.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace cantivo {

class SongListDocument;

// The set document's own history of song-list edits (insert, delete and move a song), applied
// without the song machinery. The set is modified exactly when the last applied step differs from the
// one applied at the last save.
class SetHistory {
  public:
    // "Import song into set", "Paste Song", "Drag/Copy Song": insert the song read from `path`.
    static std::unique_ptr<UndoStep> InsertSongStep(const std::string& label, const std::string& path, int position);
    // "Delete Song": remove the song at `position`; `path` reads it back on undo.
    static std::unique_ptr<UndoStep> DeleteSongStep(const std::string& path, int position);
    // "Move Song": the song at `from` goes before the song now at `to`.
    static std::unique_ptr<UndoStep> MoveSongStep(int from, int to);

    // Performs and records the step. With no set open: a warning beep, nothing changes. A step that
    // cannot be performed (a position outside the list, a song file that cannot be read) is dropped.
    [[nodiscard]] bool SubmitStep(SongListDocument& set, std::unique_ptr<UndoStep> step);
    [[nodiscard]] bool Undo(SongListDocument& set);
    [[nodiscard]] bool Redo(SongListDocument& set);

    bool CanUndo() const { return position_ > 0; }
    bool CanRedo() const { return position_ < steps_.size(); }
    std::string UndoMenuText() const;
    std::string RedoMenuText() const;
    size_t StepCount() const { return steps_.size(); }
    size_t Position() const { return position_; }

    void MarkSaved();
    bool IsModified() const { return savedGone_ || LastApplied() != saved_; }

  private:
    const UndoStep* LastApplied() const { return position_ > 0 ? steps_[position_ - 1].get() : nullptr; }
    // Applies the step in one direction; false (nothing changed) when it cannot be.
    static bool Apply(SongListDocument& set, const UndoStep& step, bool forward);

    std::vector<std::unique_ptr<UndoStep>> steps_;
    size_t position_ = 0;
    const UndoStep* saved_ = nullptr;
    bool savedGone_ = false;
};

} // namespace cantivo
