#include "Subpicture.h"

#include <algorithm>

namespace {

// Writes 4-bit units; each picture line starts on a whole byte.
class NibbleWriter {
public:
    explicit NibbleWriter(std::vector<uint8_t>& out) : m_out(out) {}
    void Put(uint32_t value, int nibbles) {
        for (int i = nibbles - 1; i >= 0; --i)
            PutNibble((value >> (4 * i)) & 0xF);
    }
    void Align() {
        if (m_half)
            PutNibble(0);
    }

private:
    void PutNibble(uint32_t n) {
        if (m_half) {
            m_out.back() |= static_cast<uint8_t>(n);
        } else {
            m_out.push_back(static_cast<uint8_t>(n << 4));
        }
        m_half = !m_half;
    }
    std::vector<uint8_t>& m_out;
    bool m_half = false;
};

// One line as runs of one value: 1-3 pixels in 4 bits, 4-15 in 8, 16-63 in 12, 64-255 in 16; a run
// to the end of the line is 14 zero bits and the value.
void codeLine(NibbleWriter& w, const SubpictureBitmap& b, int y) {
    int x = 0;
    while (x < b.width) {
        const uint8_t value = b.At(x, y);
        int run = 1;
        while (x + run < b.width && b.At(x + run, y) == value)
            ++run;
        if (x + run == b.width) {
            w.Put(value, 4); // 0000 0000 0000 00vv
            break;
        }
        run = std::min(run, 255);
        const uint32_t code = static_cast<uint32_t>(run) << 2 | value;
        w.Put(code, run < 4 ? 1 : run < 16 ? 2 : run < 64 ? 3 : 4);
        x += run;
    }
    w.Align();
}

void put16(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    out[at] = static_cast<uint8_t>(v >> 8);
    out[at + 1] = static_cast<uint8_t>(v);
}

} // namespace

void SubpictureBitmap::Frame(const MenuRect& r, int thickness, uint8_t value) {
    for (int y = std::max(r.y, 0); y < std::min(r.bottom(), height); ++y)
        for (int x = std::max(r.x, 0); x < std::min(r.right(), width); ++x) {
            const bool edge =
                y < r.y + thickness || y >= r.bottom() - thickness || x < r.x + thickness || x >= r.right() - thickness;
            if (edge)
                pixels[static_cast<size_t>(y) * width + x] = value;
        }
}

std::vector<uint8_t> EncodeSubpictureUnit(const SubpictureBitmap& bitmap, const std::array<int, 4>& colors,
                                          const std::array<int, 4>& contrasts, std::string* error) {
    // Size of the unit (2 bytes), offset of its control sequence (2), then the lines of the top field
    // (even lines) and of the bottom field (odd lines).
    std::vector<uint8_t> unit(4, 0);
    NibbleWriter writer(unit);
    const uint32_t topField = 4;
    for (int y = 0; y < bitmap.height; y += 2)
        codeLine(writer, bitmap, y);
    const uint32_t bottomField = static_cast<uint32_t>(unit.size());
    for (int y = 1; y < bitmap.height; y += 2)
        codeLine(writer, bitmap, y);
    if (unit.size() % 2)
        unit.push_back(0);

    const size_t control = unit.size();
    const uint32_t x2 = static_cast<uint32_t>(bitmap.width - 1);
    const uint32_t y2 = static_cast<uint32_t>(bitmap.height - 1);
    auto nibbles = [](const std::array<int, 4>& v) {
        // Pixel value 3 (emphasis 2) first, 0 (background) last.
        return static_cast<uint32_t>((v[3] & 0xF) << 12 | (v[2] & 0xF) << 8 | (v[1] & 0xF) << 4 | (v[0] & 0xF));
    };
    const uint32_t colorWord = nibbles(colors);
    const uint32_t contrastWord = nibbles(contrasts);
    const std::vector<uint8_t> sequence = {
        0x00,
        0x00, // start at once
        0x00,
        0x00, // offset of the next sequence: this one (filled in below), the last
        0x00, // FSTA_DSP: shown even with subtitles off
        0x03,
        static_cast<uint8_t>(colorWord >> 8),
        static_cast<uint8_t>(colorWord), // SET_COLOR
        0x04,
        static_cast<uint8_t>(contrastWord >> 8),
        static_cast<uint8_t>(contrastWord), // SET_CONTR
        0x05,                               // SET_DAREA: x1, x2, y1, y2 in 12 bits each
        0x00,
        static_cast<uint8_t>(x2 >> 8),
        static_cast<uint8_t>(x2),
        0x00,
        static_cast<uint8_t>(y2 >> 8),
        static_cast<uint8_t>(y2),
        0x06, // SET_DSPXA: where the two fields' lines start
        static_cast<uint8_t>(topField >> 8),
        static_cast<uint8_t>(topField),
        static_cast<uint8_t>(bottomField >> 8),
        static_cast<uint8_t>(bottomField),
        0xFF, // CMD_END
    };
    unit.insert(unit.end(), sequence.begin(), sequence.end());
    if (unit.size() % 2)
        unit.push_back(0xFF);
    if (unit.size() > kMaxSubpictureUnit) {
        *error = "the menu's subpicture needs " + std::to_string(unit.size()) + " bytes, more than the " +
                 std::to_string(kMaxSubpictureUnit) + " a player takes";
        return {};
    }
    put16(unit, 0, static_cast<uint32_t>(unit.size()));
    put16(unit, 2, static_cast<uint32_t>(control));
    put16(unit, control + 2, static_cast<uint32_t>(control));
    return unit;
}
