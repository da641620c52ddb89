#include "edit/SongPropertyBlock.h"

#include <utility>

namespace cantivo {

SongPropertyBlock SongPropertyBlock::Of(const Song& song)
{
    SongPropertyBlock block;
    block.title = song.title;
    block.subtitle = song.subtitle;
    block.author = song.author;
    block.copyright = song.copyright;
    block.memo = song.memo;
    block.folder = song.folder;
    block.smpteOffset = song.smpteOffset;
    return block;
}

namespace {

bool SameOffset(const Song::SmpteOffset& a, const Song::SmpteOffset& b)
{
    return a.hours == b.hours && a.minutes == b.minutes && a.seconds == b.seconds && a.frames == b.frames &&
           a.subframes == b.subframes && a.rateCode == b.rateCode;
}

} // namespace

void SongPropertyBlock::Apply(Song& song)
{
    std::string* mine[] = {&title, &subtitle, &author, &copyright, &memo, &folder};
    std::string* theirs[] = {&song.title, &song.subtitle, &song.author, &song.copyright, &song.memo, &song.folder};
    constexpr uint32_t OffsetField = 1u << 6;
    if (!applied_) {
        fields_ = 0;
        for (int i = 0; i < 6; ++i)
            if (*mine[i] != *theirs[i])
                fields_ |= 1u << i;
        if (!SameOffset(smpteOffset, song.smpteOffset))
            fields_ |= OffsetField;
        applied_ = true;
    }
    for (int i = 0; i < 6; ++i)
        if (fields_ & (1u << i))
            std::swap(*mine[i], *theirs[i]);
    if (fields_ & OffsetField)
        std::swap(smpteOffset, song.smpteOffset);
}

} // namespace cantivo
