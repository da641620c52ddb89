#include "edit/SetHistory.h"

#include "edit/SongListDocument.h"

namespace cantivo {

std::unique_ptr<UndoStep> SetHistory::InsertSongStep(const std::string& label, const std::string& path, int position)
{
    auto step = std::make_unique<UndoStep>(StepInsertSong, label);
    step->songPath = path;
    step->start = position;
    return step;
}

std::unique_ptr<UndoStep> SetHistory::DeleteSongStep(const std::string& path, int position)
{
    auto step = std::make_unique<UndoStep>(StepDeleteSong, "Delete Song");
    step->songPath = path;
    step->start = position;
    return step;
}

std::unique_ptr<UndoStep> SetHistory::MoveSongStep(int from, int to)
{
    auto step = std::make_unique<UndoStep>(StepMoveSong, "Move Song");
    step->SetMove(from, to);
    return step;
}

bool SetHistory::Apply(SongListDocument& set, const UndoStep& step, bool forward)
{
    const int count = set.SongCount();
    const auto insert = [&] {
        return step.start >= 0 && step.start <= count && set.InsertSong(step.songPath, step.start);
    };
    const auto remove = [&] {
        if (step.start < 0 || step.start >= count)
            return false;
        set.RemoveSong(step.start);
        return true;
    };
    if (step.Has(StepInsertSong))
        return forward ? insert() : remove();
    if (step.Has(StepDeleteSong))
        return forward ? remove() : insert();
    if (step.Has(StepMoveSong)) {
        const int from = step.MoveFrom();
        // The song leaves its place first, so a later target is one place nearer.
        const int to = step.MoveTo() > from ? step.MoveTo() - 1 : step.MoveTo();
        if (from >= count || to >= count)
            return false;
        if (forward)
            set.MoveSong(from, to);
        else
            set.MoveSong(to, from);
        return true;
    }
    return false;
}

bool SetHistory::SubmitStep(SongListDocument& set, std::unique_ptr<UndoStep> step)
{
    if (!step)
        return false;
    if (!set.IsOpen()) {
        set.Beep();
        return false;
    }
    if (!Apply(set, *step, true))
        return false;
    for (size_t i = position_; i < steps_.size(); ++i)
        if (steps_[i].get() == saved_)
            savedGone_ = true;
    steps_.resize(position_);
    steps_.push_back(std::move(step));
    position_ = steps_.size();
    set.SetModifiedFlag(IsModified());
    return true;
}

bool SetHistory::Undo(SongListDocument& set)
{
    if (!CanUndo())
        return false;
    if (!set.IsOpen()) {
        set.Beep();
        return false;
    }
    if (!Apply(set, *steps_[position_ - 1], false))
        return false;
    --position_;
    set.SetModifiedFlag(IsModified());
    return true;
}

bool SetHistory::Redo(SongListDocument& set)
{
    if (!CanRedo())
        return false;
    if (!set.IsOpen()) {
        set.Beep();
        return false;
    }
    if (!Apply(set, *steps_[position_], true))
        return false;
    ++position_;
    set.SetModifiedFlag(IsModified());
    return true;
}

std::string SetHistory::UndoMenuText() const
{
    const UndoStep* last = LastApplied();
    return "&Undo " + (last ? last->label : std::string()) + "\tCtrl+Z";
}

std::string SetHistory::RedoMenuText() const
{
    return "&Redo " + (CanRedo() ? steps_[position_]->label : std::string()) + "\tCtrl+Y";
}

void SetHistory::MarkSaved()
{
    saved_ = LastApplied();
    savedGone_ = false;
}

} // namespace cantivo
