#include "edit/CueDialogModel.h"

#include "song/PositionText.h"
#include "song/RawEventReader.h"
#include "song/Song.h"

#include <utility>

namespace cantivo {

namespace {

// The bytes the file gives the label: a vamp's count goes in front of it ("3||label").
size_t StoredLabelSize(const Cue& cue)
{
    size_t size = cue.label.size();
    if (cue.kind == CueVamp && (cue.count != 0 || cue.label.find("||") != std::string::npos))
        size += std::to_string(cue.count).size() + 2;
    return size;
}

bool CheckTick(int32_t tick, std::string& error)
{
    if (tick >= 0)
        return true;
    error = "A cue time cannot lie before the start of the song (tick " + std::to_string(tick) + ").";
    return false;
}

} // namespace

CueDialogModel::CueDialogModel(const Song& song, const Cue& cue, bool insertion)
    : song_(&song), cue_(cue), insertion_(insertion)
{
    OrderTimes();
}

CueDialogModel CueDialogModel::ForInsertion(const Song& song)
{
    Cue cue;
    cue.kind = CueMarker;
    const bool selection = song.selectionStart >= 0 && song.selectionEnd >= 0;
    cue.stopAt = selection ? song.selectionStart : song.currentPosition;
    cue.restartAt = selection ? song.selectionEnd : song.currentPosition;
    return CueDialogModel(song, cue, true);
}

CueDialogModel CueDialogModel::ForProperties(const Song& song, const Cue& cue)
{
    return CueDialogModel(song, cue, false);
}

std::array<const char*, CueKindCount> CueDialogModel::KindNames()
{
    std::array<const char*, CueKindCount> names{};
    for (int kind = 0; kind < CueKindCount; ++kind)
        names[static_cast<size_t>(kind)] = CueKindName(kind);
    return names;
}

bool CueDialogModel::SetKind(int32_t kind, std::string& error)
{
    if (kind < 0 || kind >= CueKindCount) {
        error = "There is no cue type " + std::to_string(kind) + ".";
        return false;
    }
    cue_.kind = kind;
    OrderTimes();
    return true;
}

bool CueDialogModel::SetCount(int32_t count, std::string& error)
{
    if (count < 0) {
        error = "How many must be 0 or more (0 repeats until released).";
        return false;
    }
    cue_.count = count;
    return true;
}

bool CueDialogModel::SetStopAt(int32_t tick, std::string& error)
{
    if (!CheckTick(tick, error))
        return false;
    cue_.stopAt = tick;
    return true;
}

bool CueDialogModel::SetRestartAt(int32_t tick, std::string& error)
{
    if (!CheckTick(tick, error))
        return false;
    cue_.restartAt = tick;
    return true;
}

std::string CueDialogModel::StopAtText() const
{
    return PositionText(*song_, cue_.stopAt);
}

std::string CueDialogModel::RestartAtText() const
{
    return PositionText(*song_, cue_.restartAt);
}

bool CueDialogModel::SetStopAtText(std::string_view text, std::string& error)
{
    const std::optional<int32_t> tick = ParsePosition(*song_, text, error);
    return tick && SetStopAt(*tick, error);
}

bool CueDialogModel::SetRestartAtText(std::string_view text, std::string& error)
{
    const std::optional<int32_t> tick = ParsePosition(*song_, text, error);
    return tick && SetRestartAt(*tick, error);
}

bool CueDialogModel::CountEnabled() const
{
    return cue_.kind == CueVamp || cue_.kind == CueAdvanceAndCut || cue_.kind == CueAdvance;
}

void CueDialogModel::OrderTimes()
{
    const bool swap = IsVampFamily(cue_.kind) ? cue_.stopAt < cue_.restartAt : cue_.stopAt > cue_.restartAt;
    if (swap)
        std::swap(cue_.stopAt, cue_.restartAt);
}

CueDialogResult CueDialogModel::Accept() const
{
    Cue cue = cue_;
    switch (cue.kind) {
    case CueMarker:
        cue.restartAt = cue.stopAt;
        break;
    case CueCaesura:
    case CueFermata:
    case CueSkip:
    case CueAdLib:
    case CueHoldAndCut:
        if (cue.restartAt < cue.stopAt)
            return {std::nullopt, "The start time must be AT OR AFTER the end time."};
        break;
    case CueVamp:
    case CueAdvanceAndCut:
    case CueAdvance:
        if (cue.restartAt >= cue.stopAt)
            return {std::nullopt, "A vamp's begin time must come before its end time."};
        break;
    case CueBreath:
        cue.count = 2;
        break;
    default:
        return {std::nullopt, "There is no cue type " + std::to_string(cue.kind) + "."};
    }
    std::string error;
    if (!CheckTick(cue.stopAt, error) || !CheckTick(cue.restartAt, error))
        return {std::nullopt, error};
    if (cue.count < 0)
        return {std::nullopt, "How many must be 0 or more (0 repeats until released)."};
    // Refused rather than cut: the reader would cut a longer label, so the saved song would lose its end.
    const size_t stored = StoredLabelSize(cue);
    if (stored > CueTextLimit) {
        const size_t room = CueTextLimit - (stored - cue.label.size());
        return {std::nullopt, "The label is too long: " + std::to_string(cue.label.size()) +
                                  " bytes, where this cue holds at most " + std::to_string(room) + "."};
    }
    return {std::move(cue), {}};
}

} // namespace cantivo
