#pragma once

// A generated Standard MIDI File for the benchmarks: 32 tracks holding about one million events in all
// (notes as on/off pairs, controllers, pitch bends, a program change and a few texts), with a tempo map.

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace cantivo::bench {

inline void PutVarLen(std::vector<uint8_t>& out, uint32_t value)
{
    uint8_t bytes[5];
    int count = 0;
    do {
        bytes[count++] = static_cast<uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (count-- > 0)
        out.push_back(static_cast<uint8_t>(bytes[count] | (count > 0 ? 0x80 : 0)));
}

inline void PutChunk(std::vector<uint8_t>& file, const char* id, const std::vector<uint8_t>& body)
{
    file.insert(file.end(), id, id + 4);
    const uint32_t size = static_cast<uint32_t>(body.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        file.push_back(static_cast<uint8_t>(size >> shift));
    file.insert(file.end(), body.begin(), body.end());
}

// File events in all: tracks × eventsPerTrack (plus a few metas).
inline std::vector<uint8_t> MakeBenchFile(int tracks = 32, int eventsPerTrack = 31250)
{
    std::mt19937 random(1234);
    std::vector<uint8_t> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1};
    file.push_back(static_cast<uint8_t>((tracks + 1) >> 8));
    file.push_back(static_cast<uint8_t>(tracks + 1));
    file.push_back(0x01);
    file.push_back(0xE0); // 480 ticks per quarter

    std::vector<uint8_t> conductor;
    const uint8_t name[] = {0x00, 0xFF, 0x03, 5, 'B', 'e', 'n', 'c', 'h'};
    conductor.insert(conductor.end(), std::begin(name), std::end(name));
    for (int i = 0; i < 64; ++i) { // a tempo change every 8 measures
        PutVarLen(conductor, i == 0 ? 0 : 480 * 32);
        const uint32_t tempo = 400000 + static_cast<uint32_t>(random() % 200000);
        const uint8_t meta[] = {0xFF,
                                0x51,
                                3,
                                static_cast<uint8_t>(tempo >> 16),
                                static_cast<uint8_t>(tempo >> 8),
                                static_cast<uint8_t>(tempo)};
        conductor.insert(conductor.end(), std::begin(meta), std::end(meta));
    }
    const uint8_t end[] = {0x00, 0xFF, 0x2F, 0x00};
    conductor.insert(conductor.end(), std::begin(end), std::end(end));
    PutChunk(file, "MTrk", conductor);

    for (int t = 0; t < tracks; ++t) {
        const uint8_t channel = static_cast<uint8_t>(t % 16);
        std::vector<uint8_t> body;
        body.reserve(static_cast<size_t>(eventsPerTrack) * 4);
        const uint8_t head[] = {0x00, 0xFF, 0x03, 4, 'T', 'r', 'a', 'k', 0x00, static_cast<uint8_t>(0xC0 | channel), 5};
        body.insert(body.end(), std::begin(head), std::end(head));
        int written = 1;
        while (written + 4 <= eventsPerTrack) {
            const uint8_t key = static_cast<uint8_t>(36 + random() % 60);
            const uint8_t velocity = static_cast<uint8_t>(40 + random() % 80);
            switch (random() % 8) {
            case 0: { // controller
                PutVarLen(body, random() % 30);
                const uint8_t message[] = {static_cast<uint8_t>(0xB0 | channel), 11,
                                           static_cast<uint8_t>(random() % 128)};
                body.insert(body.end(), std::begin(message), std::end(message));
                written += 1;
                break;
            }
            case 1: { // pitch bend
                PutVarLen(body, random() % 30);
                const uint8_t message[] = {static_cast<uint8_t>(0xE0 | channel), static_cast<uint8_t>(random() % 128),
                                           static_cast<uint8_t>(random() % 128)};
                body.insert(body.end(), std::begin(message), std::end(message));
                written += 1;
                break;
            }
            default: { // a note: on, then off with velocity 0 (running status)
                PutVarLen(body, random() % 60);
                const uint8_t on[] = {static_cast<uint8_t>(0x90 | channel), key, velocity};
                body.insert(body.end(), std::begin(on), std::end(on));
                PutVarLen(body, 1 + random() % 240);
                const uint8_t off[] = {key, 0};
                body.insert(body.end(), std::begin(off), std::end(off));
                written += 2;
                break;
            }
            }
        }
        body.insert(body.end(), std::begin(end), std::end(end));
        PutChunk(file, "MTrk", body);
    }
    return file;
}

// Writes the bench file into the temporary folder once and returns its path.
inline std::string BenchFilePath()
{
    static const std::string path = [] {
        const char* folder = std::getenv("TMPDIR");
        std::string name = std::string(folder ? folder : "/tmp") + "/cantivo-bench-1m.mid";
        const std::vector<uint8_t> bytes = MakeBenchFile();
        if (FILE* out = std::fopen(name.c_str(), "wb")) {
            std::fwrite(bytes.data(), 1, bytes.size(), out);
            std::fclose(out);
        }
        return name;
    }();
    return path;
}

inline constexpr int64_t BenchFileEvents = 32 * 31250;

} // namespace cantivo::bench
