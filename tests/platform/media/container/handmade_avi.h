#pragma once
// Small AVI files written byte by byte, for files that declare more than
// they hold: the headers say whatever the test asks (a picture of any size,
// any audio format, index entries of any size), the data is what the test
// gives. Header only, so the tool tests include it too.

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <vector>

namespace ronvix::media::test {

struct HandmadeAvi {
    int32_t width = 320;  // MJPG video of this picture size.
    int32_t height = 240;
    std::vector<QByteArray> frames;  // One "00dc" chunk each.
    struct Pcm {
        uint16_t channels = 2;
        uint32_t rate = 48000;
        uint16_t bits = 16;
        QByteArray data;  // One "01wb" chunk, after the frames; none when empty.
    };
    std::optional<Pcm> audio;
    bool index = true;
    // When set, every index entry claims this chunk size instead of the real one.
    std::optional<uint32_t> index_claims;

    QByteArray Bytes() const {
        QByteArray hdrl =
            Chunk("avih", Le({40000, 0, 0, index ? 0x10u : 0u, uint32_t(frames.size()), 0,
                              audio ? 2u : 1u, 0, uint32_t(width), uint32_t(height), 0, 0, 0, 0}));
        const QByteArray video_header =
            "vids" + QByteArray("MJPG") +
            Le({0, 0, 0, 1, 25, 0, uint32_t(frames.size()), 0, 0xFFFFFFFF, 0, 0, 0});
        const QByteArray bitmap =
            Le({40, uint32_t(width), uint32_t(height)}) + Le16({1, 24}) +
            Le({0x47504A4Du, uint32_t(uint64_t(uint32_t(width)) * uint32_t(height) * 3), 0, 0, 0,
                0});
        hdrl += List("strl", Chunk("strh", video_header) + Chunk("strf", bitmap));
        if (audio) {
            const uint32_t align = uint32_t(audio->channels) * audio->bits / 8;
            const QByteArray audio_header =
                "auds" + QByteArray(4, '\0') +
                Le({0, 0, 0, 1, audio->rate, 0, uint32_t(audio->data.size() / std::max(align, 1u)),
                    0, 0xFFFFFFFF, align, 0, 0});
            const QByteArray wave = Le16({1, audio->channels}) +
                                    Le({audio->rate, uint32_t(uint64_t(audio->rate) * align)}) +
                                    Le16({uint16_t(align), audio->bits, 0});
            hdrl += List("strl", Chunk("strh", audio_header) + Chunk("strf", wave));
        }
        QByteArray movi, idx1;
        auto add = [&](const char* id, const QByteArray& data) {
            idx1 += id + Le({0x10, uint32_t(4 + movi.size()),
                             index_claims.value_or(uint32_t(data.size()))});
            movi += Chunk(id, data);
        };
        for (const QByteArray& frame : frames)
            add("00dc", frame);
        if (audio && !audio->data.isEmpty())
            add("01wb", audio->data);
        QByteArray body = "AVI " + List("hdrl", hdrl) + List("movi", movi);
        if (index)
            body += Chunk("idx1", idx1);
        return "RIFF" + Le({uint32_t(body.size())}) + body;
    }

private:
    static QByteArray Le(std::initializer_list<uint32_t> values) {
        QByteArray out;
        for (uint32_t v : values)
            for (int i = 0; i < 4; ++i)
                out += char((v >> (8 * i)) & 0xFF);
        return out;
    }
    static QByteArray Le16(std::initializer_list<uint16_t> values) {
        QByteArray out;
        for (uint16_t v : values)
            out += char(v & 0xFF), out += char(v >> 8);
        return out;
    }
    static QByteArray Chunk(const char* id, const QByteArray& data) {
        QByteArray out = QByteArray(id, 4) + Le({uint32_t(data.size())}) + data;
        if (data.size() % 2)
            out += '\0';
        return out;
    }
    static QByteArray List(const char* kind, const QByteArray& data) {
        return Chunk("LIST", QByteArray(kind, 4) + data);
    }
};

}  // namespace ronvix::media::test
