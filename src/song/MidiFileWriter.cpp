#include "song/MidiFileWriter.h"

#include "song/AtomicFile.h"
#include "song/Song.h"
#include "song/SongFileNames.h"
#include "song/TrackEncoder.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <queue>
#include <set>
#include <system_error>

namespace cantivo {

namespace {

// Each text meta is cut to this many bytes when read, so longer texts are written in pieces.
constexpr size_t TextPieceLimit = 99;

void PutVarLen(std::vector<uint8_t>& out, uint32_t value)
{
    uint8_t groups[5];
    int count = 0;
    do {
        groups[count++] = static_cast<uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (count-- > 0)
        out.push_back(static_cast<uint8_t>(groups[count] | (count > 0 ? 0x80 : 0)));
}

void PutBigEndian(std::vector<uint8_t>& out, uint32_t value, int bytes)
{
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

void PutChunk(std::vector<uint8_t>& out, const char* id, const std::vector<uint8_t>& contents)
{
    out.insert(out.end(), id, id + 4);
    PutBigEndian(out, static_cast<uint32_t>(contents.size()), 4);
    out.insert(out.end(), contents.begin(), contents.end());
}

bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

int Log2(int value)
{
    int power = 0;
    while (value > 1) {
        value >>= 1;
        ++power;
    }
    return power;
}

// Splits a text into pieces the reader keeps whole, never inside a UTF-8 character when avoidable.
std::vector<std::string> TextPieces(const std::string& text)
{
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = std::min(text.size(), start + TextPieceLimit);
        size_t cut = end;
        while (cut < text.size() && cut > start + 1 && (static_cast<uint8_t>(text[cut]) & 0xC0) == 0x80)
            --cut;
        if (cut <= start + 1)
            cut = end;
        pieces.push_back(text.substr(start, cut - start));
        start = cut;
    }
    return pieces;
}

// Builds track 0: every item goes through Put, which writes the delta from the previous item.
class ConductorBuilder {
  public:
    explicit ConductorBuilder(const Song& song) : song_(song) {}

    std::vector<uint8_t> Build();

  private:
    struct NoteOff {
        int32_t time;
        uint64_t order; // note-offs of one tick leave in the order their notes started
        uint8_t status;
        uint8_t key;
        bool operator>(const NoteOff& other) const
        {
            return time != other.time ? time > other.time : order > other.order;
        }
    };

    void Delta(int32_t time)
    {
        // A longer delta would not read back; the filler is dropped when read.
        while (time > lastTime_ && static_cast<uint32_t>(time - lastTime_) > MaxFileDelta) {
            const uint8_t gap[] = {ProgramMeta::Tag[0], ProgramMeta::Tag[1], ProgramMeta::Gap};
            Meta(lastTime_ + static_cast<int32_t>(MaxFileDelta), 0x7F, gap, sizeof gap);
        }
        PutVarLen(out_, time > lastTime_ ? static_cast<uint32_t>(time - lastTime_) : 0);
        lastTime_ = std::max(lastTime_, time);
    }
    void Meta(int32_t time, uint8_t type, const uint8_t* data, size_t size)
    {
        Delta(time);
        out_.push_back(0xFF);
        out_.push_back(type);
        PutVarLen(out_, static_cast<uint32_t>(size));
        out_.insert(out_.end(), data, data + size);
    }
    void Meta(int32_t time, uint8_t type, const std::string& text)
    {
        Meta(time, type, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }
    void Channel(int32_t time, uint8_t status, uint8_t data1)
    {
        Delta(time);
        out_.push_back(status);
        out_.push_back(data1 & 0x7F);
    }
    void Channel(int32_t time, uint8_t status, uint8_t data1, uint8_t data2)
    {
        Channel(time, status, data1);
        out_.push_back(data2 & 0x7F);
    }

    void PutTexts();
    void PutMeasureStart(const Measure& measure, bool withLabels, bool pinMeter);
    // Writes every tempo change, cue and track-0 item due before `limit`.
    void PutItemsBefore(int64_t limit);
    void PutEvent(const SongEvent& event);
    void PutCue(const Cue& cue);

    const Song& song_;
    std::vector<uint8_t> out_;
    int32_t lastTime_ = 0;
    size_t nextEvent_ = 0;
    size_t nextCue_ = 0;
    size_t nextTempo_ = 0;
    std::vector<const Cue*> cues_;
    std::priority_queue<NoteOff, std::vector<NoteOff>, std::greater<>> noteOffs_;
    uint64_t notesStarted_ = 0;
    std::optional<uint32_t> lastTempo_;
    std::optional<uint32_t> lastParameter_; // status and number of the parameter last selected
    const Measure* lastMeter_ = nullptr;
    const Measure* lastKey_ = nullptr;
};

std::vector<uint8_t> ConductorBuilder::Build()
{
    for (const auto& cue : song_.cues)
        cues_.push_back(cue.get());
    std::stable_sort(cues_.begin(), cues_.end(),
                     [](const Cue* a, const Cue* b) { return a->AnchorTime() < b->AnchorTime(); });

    PutTexts();
    const auto& smpte = song_.smpteOffset;
    const uint8_t offset[5] = {static_cast<uint8_t>(((smpte.rateCode & 3) << 5) | (smpte.hours & 31)),
                               static_cast<uint8_t>(smpte.minutes), static_cast<uint8_t>(smpte.seconds),
                               static_cast<uint8_t>(smpte.frames), static_cast<uint8_t>(smpte.subframes)};
    Meta(0, 0x54, offset, sizeof offset);

    const auto& measures = song_.measures;
    bool withLabels = false;
    for (size_t i = 0; i < measures.size() && !withLabels; ++i)
        withLabels = measures[i].letter != 0 || measures[i].number != i + 1;
    for (size_t i = 0; i < measures.size(); ++i) {
        // Reading makes measures up to the song end and where a meter or key stands; measures past the
        // song end with neither would be lost, so the last one gets its meter written again.
        const bool pin = !withLabels && i > 0 && i + 1 == measures.size() && measures[i].start >= song_.songEnd;
        PutMeasureStart(measures[i], withLabels, pin);
        PutItemsBefore(measures[i].End());
    }
    // What lies beyond the last measure (a tempo change past the song end, say) is still the song's.
    PutItemsBefore(INT64_MAX);

    const uint8_t none = 0;
    Meta(lastTime_, 0x2F, &none, 0);
    return std::move(out_);
}

void ConductorBuilder::PutTexts()
{
    Meta(0, 0x03, song_.title);
    if (!song_.subtitle.empty())
        Meta(0, 0x03, song_.subtitle);
    if (!song_.copyright.empty())
        Meta(0, 0x02, song_.copyright);
    // The first text is read as the author, so a memo without an author needs an empty one before it.
    if (!song_.author.empty() || !song_.memo.empty())
        Meta(0, 0x01, song_.author);
    for (const std::string& piece : TextPieces(song_.memo))
        Meta(0, 0x01, piece);
}

void ConductorBuilder::PutMeasureStart(const Measure& measure, bool withLabels, bool pinMeter)
{
    if (withLabels) {
        char label[16] = "";
        if (measure.number != 0 && measure.letter != 0)
            std::snprintf(label, sizeof label, "%d%c", measure.number, measure.letter);
        else if (measure.number != 0)
            std::snprintf(label, sizeof label, "%d", measure.number);
        else if (measure.letter != 0)
            std::snprintf(label, sizeof label, "%c", measure.letter);
        std::string data = "cv";
        data += static_cast<char>(ProgramMeta::MeasureLabel);
        data += label;
        Meta(measure.start, 0x7F, data);
    }
    // The thirty-seconds are compared too: a measure that changes only them would otherwise read back
    // with the previous value.
    if (pinMeter || !lastMeter_ || lastMeter_->numerator != measure.numerator ||
        lastMeter_->denominator != measure.denominator || lastMeter_->clocksPerClick != measure.clocksPerClick ||
        lastMeter_->thirtySecondsPerQuarter != measure.thirtySecondsPerQuarter) {
        const uint8_t meter[4] = {measure.numerator, static_cast<uint8_t>(Log2(measure.denominator)),
                                  measure.clocksPerClick, measure.thirtySecondsPerQuarter};
        Meta(measure.start, 0x58, meter, sizeof meter);
        lastMeter_ = &measure;
    }
    if (!lastKey_ || lastKey_->key != measure.key || lastKey_->mode != measure.mode) {
        const uint8_t key[2] = {static_cast<uint8_t>(measure.key), measure.mode};
        Meta(measure.start, 0x59, key, sizeof key);
        lastKey_ = &measure;
    }
}

void ConductorBuilder::PutItemsBefore(int64_t limit)
{
    static const std::vector<SongEvent> noEvents;
    const std::vector<SongEvent>& events = song_.tracks.empty() ? noEvents : song_.tracks[0]->events;
    const auto& tempos = song_.tempoMap.entries;
    for (;;) {
        // At one tick: track-0 items (pending note-offs before events), then cues, then tempos.
        int64_t best = INT64_MAX;
        int which = -1;
        auto consider = [&](bool present, int64_t time, int kind) {
            if (present && time < best) {
                best = time;
                which = kind;
            }
        };
        consider(!noteOffs_.empty(), noteOffs_.empty() ? 0 : noteOffs_.top().time, 0);
        consider(nextEvent_ < events.size(), nextEvent_ < events.size() ? events[nextEvent_].time : 0, 1);
        consider(nextCue_ < cues_.size(), nextCue_ < cues_.size() ? cues_[nextCue_]->AnchorTime() : 0, 2);
        consider(nextTempo_ < tempos.size(), nextTempo_ < tempos.size() ? tempos[nextTempo_].tick : 0, 3);
        if (which < 0 || best >= limit)
            return;
        switch (which) {
        case 0: {
            const NoteOff off = noteOffs_.top();
            noteOffs_.pop();
            Channel(off.time, off.status, off.key, 0);
            break;
        }
        case 1:
            PutEvent(events[nextEvent_++]);
            break;
        case 2:
            PutCue(*cues_[nextCue_++]);
            break;
        default: {
            const TempoChange& tempo = tempos[nextTempo_++];
            // Tempo metas hold 24 bits; a larger value is kept as the slowest tempo the file can say.
            const uint32_t value = std::min<uint32_t>(tempo.microsecondsPerQuarter, 0xFFFFFF);
            if (lastTempo_ != value) {
                const uint8_t bytes[3] = {static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
                                          static_cast<uint8_t>(value)};
                Meta(tempo.tick, 0x51, bytes, sizeof bytes);
                lastTempo_ = value;
            }
            break;
        }
        }
    }
}

// Channel events of track 0 are written so the file plays as before: notes as note-on and note-on
// velocity 0 pairs, parameter events as their controller sequences on track 0's channel.
void ConductorBuilder::PutEvent(const SongEvent& event)
{
    const uint8_t status = event.Status();
    const uint8_t type = event.Type();
    if (event.IsAudioClip())
        return;
    if (event.IsMeta()) {
        if (event.Data1() != 0x2F) // an end of track inside the chunk would cut off the rest
            Meta(event.time, event.Data1(), event.Data(), event.DataSize());
        return;
    }
    if (event.IsSysex()) {
        const uint8_t* data = event.Data();
        const size_t size = event.DataSize();
        if (size == 0)
            return;
        // The reader takes a message from 0xF0 to the first 0xF7; without them it would swallow the
        // rest of the track, so an edit's message that lacks them gets them here.
        Delta(event.time);
        if (data[0] != 0xF0)
            out_.push_back(0xF0);
        out_.insert(out_.end(), data, data + size);
        if (data[size - 1] != 0xF7)
            out_.push_back(0xF7);
        return;
    }
    if (event.IsParameter()) {
        const uint8_t channel = static_cast<uint8_t>(0xB0 | (song_.tracks[0]->outputChannel & 0x0F));
        const bool registered = status == StatusRpn;
        const uint32_t number = event.ParameterNumber() & 0x3FFF;
        const uint32_t selection = (uint32_t{status} << 16) | number;
        if (lastParameter_ != selection) {
            Channel(event.time, channel, registered ? 101 : 99, static_cast<uint8_t>(number >> 7));
            Channel(event.time, channel, registered ? 100 : 98, static_cast<uint8_t>(number & 0x7F));
            lastParameter_ = selection;
        }
        if (event.length == ParamIncrement) {
            Channel(event.time, channel, 96, 0);
        } else if (event.length == ParamDecrement) {
            Channel(event.time, channel, 97, 0);
        } else {
            Channel(event.time, channel, 6, static_cast<uint8_t>((event.length >> 7) & 0x7F));
            Channel(event.time, channel, 38, static_cast<uint8_t>(event.length & 0x7F));
        }
        return;
    }
    switch (type) {
    case 0x90: {
        // A stored velocity of 0 would read as a note-off; the quietest note-on keeps the note.
        const uint8_t velocity = std::max<uint8_t>(1, event.Data2() & 0x7F);
        Channel(event.time, status, event.Data1(), velocity);
        const int64_t end = int64_t{event.time} + std::max(0, event.length);
        noteOffs_.push(
            NoteOff{static_cast<int32_t>(std::min<int64_t>(end, INT32_MAX)), notesStarted_++, status, event.Data1()});
        break;
    }
    case 0x80: // never stored; written as it stands if an edit made one
    case 0xA0:
    case 0xB0:
    case 0xE0:
        Channel(event.time, status, event.Data1(), event.Data2());
        break;
    case 0xC0:
    case 0xD0:
        // The bank of a program change was read from its own controller events, which are written
        // back as they stand; adding bank selects here would double them.
        Channel(event.time, status, event.Data1());
        break;
    default:
        break;
    }
}

void ConductorBuilder::PutCue(const Cue& cue)
{
    if (cue.kind == CueMarker) {
        Meta(cue.AnchorTime(), 0x06, cue.label);
        return;
    }
    const int64_t span = std::min<int64_t>(std::abs(int64_t{cue.restartAt} - cue.stopAt), 0x0FFFFFFF);
    std::string data = "cv";
    data += static_cast<char>(ProgramMeta::CueRecord);
    data += static_cast<char>(cue.kind & 0xFF);
    for (int shift = 0; shift < 28; shift += 7)
        data += static_cast<char>((span >> shift) & 0x7F);
    // A vamp label that itself holds "||" gets a count in front too, or the reader would split it.
    if (cue.kind == CueVamp && (cue.count != 0 || cue.label.find("||") != std::string::npos))
        data += std::to_string(cue.count) + "||";
    data += cue.label;
    Meta(cue.AnchorTime(), 0x7F, data);
}

// ---- the save around the file ----

struct PathParts {
    std::string folder; // without its trailing separator; empty for a bare file name
    std::string base;
    std::string extension; // with its dot; empty when there is none
};

PathParts SplitPath(const std::string& path)
{
    PathParts parts;
    const size_t slash = path.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (slash != std::string::npos)
        parts.folder = path.substr(0, slash == 0 ? 1 : slash);
    const size_t dot = name.find_last_of('.');
    parts.base = dot == std::string::npos ? name : name.substr(0, dot);
    parts.extension = dot == std::string::npos ? std::string() : name.substr(dot);
    return parts;
}

std::string Join(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    if (folder.back() == '/' || folder.back() == '\\')
        return folder + name;
    return folder + "/" + name;
}

std::string LastComponent(const std::string& folder)
{
    const size_t slash = folder.find_last_of("/\\");
    return slash == std::string::npos ? folder : folder.substr(slash + 1);
}

std::string Hex8(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

std::string LowerExtension(const std::string& fileName)
{
    std::string extension = SplitPath(fileName).extension;
    if (!extension.empty())
        extension.erase(0, 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

// Moves a file, copying across file systems (the undo folder may live on another one). 0 or errno.
int MoveFile(const std::string& from, const std::string& to)
{
    namespace fs = std::filesystem;
    std::error_code error;
    fs::rename(from, to, error);
    if (!error)
        return 0;
    if (error != std::errc::cross_device_link)
        return error.value();
    fs::copy_file(from, to, fs::copy_options::none, error);
    if (error)
        return error.value();
    fs::remove(from, error);
    return 0;
}

bool IsInUndoFolder(const SongContext& context, const std::string& fileName)
{
    return (!context.undoFolder.empty() && fileName.rfind(context.undoFolder, 0) == 0) ||
           fileName.find("undoredo.wav") != std::string::npos;
}

void ReopenClip(const SongContext& context, AudioClip& clip)
{
    uint32_t code = 0;
    if (context.audio)
        clip.Open(*context.audio, code);
}

// Gives the clip's audio the file `target`: a rewritten clip is written out there and its old file
// deleted (unless `keepOld`), another clip's file is moved, or copied when `keepOld`. Returns 0 or
// the system error code.
uint32_t RelocateClip(const SongContext& context, AudioClip& clip, const std::string& target, bool keepOld = false)
{
    if (clip.rewrite) {
        std::string error;
        if (!clip.WriteCopy(target, error))
            return static_cast<uint32_t>(EIO);
        const std::string old = clip.fileName;
        clip.Close();
        std::error_code ignored;
        if (!keepOld)
            std::filesystem::remove(old, ignored);
        clip.fileName = target;
        clip.rewrite = false;
        ReopenClip(context, clip);
        return 0;
    }
    clip.Close();
    int error = 0;
    if (keepOld) {
        std::error_code code;
        std::filesystem::copy_file(clip.fileName, target, code);
        error = code.value();
    } else {
        error = MoveFile(clip.fileName, target);
    }
    if (error == 0)
        clip.fileName = target;
    ReopenClip(context, clip);
    return static_cast<uint32_t>(error);
}

bool SameFolder(const std::string& a, const std::string& b)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const auto normal = [&](const std::string& folder) {
        const fs::path path = folder.empty() ? fs::path(".") : fs::path(folder);
        fs::path canonical = fs::weakly_canonical(path, error);
        return (error ? path.lexically_normal() : canonical).lexically_normal() / "";
    };
    return normal(a) == normal(b);
}

// The folder of the song whose "WaveData" holds the clip: the clip is saved by its name from
// "WaveData" on, relative to the saved song's folder. None for a clip saved by its full name.
std::optional<std::string> OwningSongFolder(const AudioClip& clip)
{
    const size_t relative = clip.fileName.find("WaveData");
    if (relative == std::string::npos || relative == 0)
        return std::nullopt;
    return clip.fileName.substr(0, relative);
}

std::string UndoFolderClipName(const SongContext& context, const std::string& source)
{
    namespace fs = std::filesystem;
    const std::string extension = LowerExtension(source);
    uint32_t number = context.clock->Milliseconds();
    for (int tries = 0; tries < 100000; ++tries, ++number) {
        std::string candidate = Join(context.undoFolder, Hex8(number));
        if (!extension.empty())
            candidate += "." + extension;
        std::error_code error;
        if (fs::symlink_status(candidate, error).type() == fs::file_type::not_found)
            return candidate;
    }
    return {};
}

void ReportMoveError(const SongContext& context, uint32_t code)
{
    char text[64];
    std::snprintf(text, sizeof text, MoveClipErrorFormat, code);
    context.prompter->Show(text, PromptIcon::Error);
}

// Clips that only the undo history still holds leave the song folder for the undo folder; clips of
// the song's audio tracks that live in the undo folder (or must be rewritten) come into "WaveData" of
// the folder the song is saved to. A save under another name leaves the old file naming its clips, so
// their files stay where they are, and a clip kept in another song's folder is copied along. A step
// may share a clip's file with the song (applying offsets copies the events): the file stays with the
// song, and the step's copy follows it when it moves.
void MoveClipFiles(Song& song, const std::string& path)
{
    const SongContext& context = song.Context();
    const std::string targetFolder = SplitPath(path).folder;
    const bool saveAs = !song.pathName.empty() && song.pathName != path;
    std::set<std::string> played;
    for (const auto& track : song.tracks)
        for (const SongEvent& event : track->events)
            if (const AudioClip* clip = event.ClipData())
                played.insert(clip->fileName);
    std::multimap<std::string, AudioClip*> held;
    if (song.history) {
        song.history->ForEachHeldClip([&](AudioClip& clip) {
            if (played.contains(clip.fileName)) {
                held.emplace(clip.fileName, &clip);
                return;
            }
            if (context.undoFolder.empty() || saveAs ||
                (!clip.rewrite && clip.fileName.find("undoredo.wav") != std::string::npos))
                return;
            const std::string target = UndoFolderClipName(context, clip.fileName);
            if (target.empty())
                return;
            if (const uint32_t code = RelocateClip(context, clip, target); code != 0)
                ReportMoveError(context, code);
        });
    }
    for (int number = song.UserTrackCount(); number >= 1; --number) {
        Track& track = *song.tracks[static_cast<size_t>(number)];
        if (!track.IsAudio())
            continue;
        for (SongEvent& event : track.events) {
            AudioClip* clip = event.ClipData();
            if (!clip)
                continue;
            const bool fromUndo = IsInUndoFolder(context, clip->fileName);
            const std::optional<std::string> owner = OwningSongFolder(*clip);
            const bool foreign = !fromUndo && owner && !SameFolder(*owner, targetFolder);
            if (!clip->rewrite && !fromUndo && !foreign)
                continue;
            const std::string target = song.NewClipFileName(clip->fileName, targetFolder);
            if (target.empty()) {
                ReportMoveError(context, static_cast<uint32_t>(ENOENT));
                continue;
            }
            const std::string old = clip->fileName;
            const auto [first, last] = held.equal_range(old);
            const bool moves = !clip->rewrite && !foreign;
            const bool keepOld = foreign || (clip->rewrite && first != last);
            if (const uint32_t code = RelocateClip(context, *clip, target, keepOld); code != 0) {
                ReportMoveError(context, code);
                continue;
            }
            for (auto it = first; moves && it != last; ++it) {
                AudioClip& copy = *it->second;
                const bool wasOpen = copy.IsOpen();
                copy.Close();
                copy.fileName = target;
                if (wasOpen)
                    ReopenClip(context, copy);
            }
        }
    }
}

bool AskOffsetQuestion(Song& song)
{
    const std::string question = OffsetQuestion(song);
    if (question.empty())
        return true;
    if (!song.Context().prompter->Ask(question, PromptButtons::OkCancel, PromptIcon::Question))
        return false;
    if (song.history)
        return song.history->ApplyOffsets(song);
    for (int number = 1; number <= song.UserTrackCount(); ++number)
        ApplyClippedOffsets(*song.tracks[static_cast<size_t>(number)]);
    song.SetModifiedFlag(true);
    return true;
}

// The song's clips and those its history holds name files by their full path: after the song's
// folder is renamed they must name them under the new folder, or the next save cannot find them.
void FollowFolderRename(Song& song, const std::string& oldFolder, const std::string& newFolder)
{
    const std::string from = Join(oldFolder, "");
    const auto follow = [&](AudioClip& clip) {
        if (clip.fileName.starts_with(from))
            clip.fileName = Join(newFolder, clip.fileName.substr(from.size()));
    };
    for (auto& track : song.tracks)
        for (SongEvent& event : track->events)
            if (AudioClip* clip = event.ClipData())
                follow(*clip);
    if (song.history)
        song.history->ForEachHeldClip(follow);
}

// The song's file takes the song's title as its name (and its folder too when the folder is named
// after the file). Nothing is ever renamed over an existing file.
void RenameAfterTitle(Song& song, SaveFiles& files, const WriteOptions& options)
{
    const std::string title = TitleFileName(song.title);
    if (title.empty() || song.pathName.empty())
        return;
    std::string path = song.pathName;
    PathParts parts = SplitPath(path);
    const std::string oldBackup = StripKnownExtension(path) + ".bak";
    bool renamed = false;
    std::string error;
    if (!parts.folder.empty() && LastComponent(parts.folder) == parts.base && parts.base != title) {
        const std::string parent = SplitPath(parts.folder).folder;
        const std::string newFolder = Join(parent, title);
        if (files.RenameNoReplace(parts.folder, newFolder, error)) {
            FollowFolderRename(song, parts.folder, newFolder);
            parts.folder = newFolder;
            path = Join(newFolder, parts.base + parts.extension);
            renamed = true;
        }
    }
    if (parts.base != title) {
        const std::string backup = Join(parts.folder, SplitPath(oldBackup).base + ".bak");
        const std::string newPath = Join(parts.folder, title + parts.extension);
        if (files.RenameNoReplace(path, newPath, error)) {
            if (files.Exists(backup))
                (void)files.RenameNoReplace(backup, StripKnownExtension(newPath) + ".bak", error);
            path = newPath;
            renamed = true;
        }
    }
    if (!renamed)
        return;
    song.SetPathName(path);
    if (options.renamed)
        options.renamed(path);
}

} // namespace

std::vector<uint8_t> ConductorTrackBytes(const Song& song)
{
    return ConductorBuilder(song).Build();
}

std::vector<uint8_t> SongFileBytes(const Song& song)
{
    const size_t chunks = song.tracks.size() > 1 ? song.tracks.size() - 1 : 1;
    std::vector<uint8_t> file;
    std::vector<uint8_t> header;
    // Format 0 holds exactly one chunk; a song that has grown more tracks is a format-1 file now.
    const uint16_t format = song.fileFormat == 0 && chunks > 1 ? 1 : song.fileFormat;
    PutBigEndian(header, format, 2);
    PutBigEndian(header, static_cast<uint32_t>(chunks), 2);
    PutBigEndian(header, song.timebase, 2);
    PutChunk(file, "MThd", header);
    PutChunk(file, "MTrk", ConductorTrackBytes(song));
    static const std::vector<uint8_t> emptyTrack = {0x00, 0xFF, 0x2F, 0x00};
    for (size_t number = 1; number + 1 < song.tracks.size(); ++number) {
        const Track& track = *song.tracks[number];
        PutChunk(file, "MTrk", track.image.empty() ? emptyTrack : track.image);
    }
    return file;
}

std::vector<uint8_t> WriteSongToBytes(Song& song)
{
    song.RelayMeasures();
    song.UpdateSongEnd(AllTracks);
    return SongFileBytes(song);
}

std::string OffsetQuestion(const Song& song)
{
    std::string lines;
    for (int number = song.UserTrackCount(); number >= 1; --number) {
        const uint8_t flags = song.tracks[static_cast<size_t>(number)]->clipFlags;
        if (flags == 0)
            continue;
        lines += "\nTrack " + std::to_string(number) + ":  ";
        if (flags & ClipKey)
            lines += "key; ";
        if (flags & ClipVelocity)
            lines += "velocity; ";
        if (flags & ClipTime)
            lines += "time; ";
    }
    if (lines.empty())
        return {};
    return "NOTE:\nTrack offsets will cause values to be clipped (set at limits):\n" + lines +
           "\n\nApply these offsets and save anyway?";
}

void ApplyClippedOffsets(Track& track)
{
    const bool keys = (track.clipFlags & ClipKey) && track.keyOffset != 0;
    const bool velocities = (track.clipFlags & ClipVelocity) && track.velocityOffset != 0;
    const bool times = (track.clipFlags & ClipTime) && track.timeOffset != 0;
    for (SongEvent& event : track.events)
        ApplyOffsetsToEvent(event, track, track.clipFlags);
    if (keys)
        track.keyOffset = 0;
    if (velocities)
        track.velocityOffset = 0;
    if (times)
        track.timeOffset = 0;
}

bool WriteSong(Song& song, const std::string& path, const WriteOptions& options)
{
    static DiskSaveFiles disk;
    SaveFiles& files = options.files ? *options.files : disk;
    const SongContext& context = song.Context();
    const bool autosave = EndsWith(path, "sav");

    song.RelayMeasures();
    if (!autosave) {
        if (!AskOffsetQuestion(song))
            return false;
        MoveClipFiles(song, path);
    }
    song.UpdateSongEnd(AllTracks);

    const bool keepBackup = !autosave && context.profile->GetInt("SaveOptions", "Backups", 0) != 0;
    const std::string backupPath = keepBackup ? StripKnownExtension(path) + ".bak" : std::string();
    std::string error;
    if (!ReplaceFile(files, path, SongFileBytes(song), backupPath, error)) {
        context.prompter->Show("The song could not be saved as " + path + ": " + error +
                                   ".\nThe file on disk and its backup were left as they were. Check that the "
                                   "folder exists, is writable and has free space, then save again.",
                               PromptIcon::Error);
        return false;
    }
    // An autosave's path is the song's name + ".sav", so its settings file is that name + ".cv.sav".
    if (autosave)
        files.Remove((EndsWith(path, ".sav") ? path.substr(0, path.size() - 4) : path) + ".cv.sav");
    else
        files.Remove(StripKnownExtension(path) + ".cv");
    if (autosave)
        return true;

    // A save under a new name works on the new path from here on, so the new file is the one renamed.
    if (song.pathName != path) {
        // The old path's recovery file held these very changes, which are now saved.
        if (song.autosaveFlag && !song.pathName.empty() && !options.exactPath)
            files.Remove(StripKnownExtension(song.pathName) + ".sav");
        song.SetPathName(path);
    }
    if (!options.exactPath) {
        files.Remove(StripKnownExtension(song.pathName) + ".sav");
        RenameAfterTitle(song, files, options);
    }
    song.autosaveFlag = false;

    if (song.history)
        song.history->MarkSaved();
    song.SetModifiedFlag(false);
    return true;
}

} // namespace cantivo
