// Writes a deterministic screen-like sequence as raw bottom-up BGRA: an editor-like desktop with text,
// a 320x240 picture box moving 4 px per frame and a blinking text cursor.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

struct Canvas {
    std::vector<uint8_t> pixels = std::vector<uint8_t>(size_t(kWidth) * kHeight * 4, 0);
    void set(int x, int y, uint32_t rgb) {
        if (x < 0 || y < 0 || x >= kWidth || y >= kHeight) return;
        uint8_t* p = pixels.data() + (size_t(kHeight - 1 - y) * kWidth + x) * 4;  // bottom-up rows
        p[0] = uint8_t(rgb);
        p[1] = uint8_t(rgb >> 8);
        p[2] = uint8_t(rgb >> 16);
        p[3] = 0;
    }
    void fill(int x0, int y0, int w, int h, uint32_t rgb) {
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) set(x, y, rgb);
    }
};

uint32_t hash(uint32_t v) {
    v ^= v >> 16;
    v *= 0x7feb352d;
    v ^= v >> 15;
    v *= 0x846ca68b;
    return v ^ (v >> 16);
}

uint32_t blend(uint32_t a, uint32_t b, int alpha) {  // alpha 0..255 of b over a
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const int ca = (a >> shift) & 0xFF, cb = (b >> shift) & 0xFF;
        out |= uint32_t((ca * (255 - alpha) + cb * alpha) / 255) << shift;
    }
    return out;
}

// A 7x13 pseudo glyph: a 5x9 random bitmap with a grey anti-aliasing fringe.
void drawGlyph(Canvas& c, int x0, int y0, uint32_t code, uint32_t ink, uint32_t paper) {
    for (int gy = 0; gy < 9; ++gy)
        for (int gx = 0; gx < 5; ++gx) {
            const uint32_t h = hash(code * 131 + uint32_t(gy * 5 + gx));
            if (h % 5 < 2) {
                c.set(x0 + 1 + gx, y0 + 2 + gy, ink);
                if (h % 7 == 0) c.set(x0 + 2 + gx, y0 + 2 + gy, blend(paper, ink, 110));
            }
        }
}

void drawDesktop(Canvas& c) {
    c.fill(0, 0, kWidth, kHeight, 0xFAFAFA);
    c.fill(0, 0, kWidth, 32, 0x2B579A);     // title bar
    c.fill(0, 32, 260, kHeight - 56, 0xE8E8EC);  // side bar
    c.fill(0, kHeight - 24, kWidth, 24, 0x007ACC);  // status bar
    c.fill(260, 32, 48, kHeight - 56, 0xF0F0F0);    // line-number gutter
    uint32_t seed = 1;
    for (int line = 0; line < 55; ++line) {
        const int y = 40 + line * 18;
        for (int d = 0; d < 3; ++d) drawGlyph(c, 270 + d * 7, y, uint32_t(line * 10 + d), 0x999999, 0xF0F0F0);
        int x = 320 + int(hash(uint32_t(line)) % 6) * 28;
        const int words = int(hash(uint32_t(line) + 77) % 12);
        for (int w = 0; w < words && x < kWidth - 100; ++w) {
            const int letters = 2 + int(hash(seed++) % 9);
            const uint32_t ink = hash(seed) % 4 == 0 ? 0x0000FF : hash(seed) % 4 == 1 ? 0xA31515 : 0x1E1E1E;
            for (int l = 0; l < letters; ++l, x += 7) drawGlyph(c, x, y, hash(seed++) % 80, ink, 0xFAFAFA);
            x += 7;
        }
    }
    for (int item = 0; item < 40; ++item)  // file tree
        for (int l = 0; l < 8 + int(hash(uint32_t(item)) % 10); ++l)
            drawGlyph(c, 16 + (item % 5 == 0 ? 0 : 14) + l * 7, 44 + item * 20, hash(uint32_t(item * 31 + l)) % 80, 0x333333, 0xE8E8EC);
}

void drawBox(Canvas& c, int x0, int y0, int frame) {
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) {
            const int r = (x * 255) / 320, g = (y * 255) / 240, b = ((x + y + frame) * 2) & 0xFF;
            c.set(x0 + x, y0 + y, uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b / 2 + 64));
        }
    for (int i = 0; i < 24; ++i) drawGlyph(c, x0 + 20 + i * 7, y0 + 20, uint32_t(i), 0xFFFFFF, 0x000000);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: generate_screen OUTPUT.bgra FRAMES\n");
        return 2;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(argv[1], "wb"), &std::fclose);
    if (!out) return 1;
    const int frames = std::atoi(argv[2]);
    Canvas desktop;
    drawDesktop(desktop);
    for (int i = 0; i < frames; ++i) {
        Canvas c = desktop;
        // Box bounces across the editor area.
        const int travel = kWidth - 320 - 400, pos = (i * 4) % (2 * travel);
        drawBox(c, 400 + (pos < travel ? pos : 2 * travel - pos), 500, 0);
        if ((i / 15) % 2 == 0) c.fill(320 + 7 * 30, 40 + 12 * 18, 2, 16, 0x000000);  // cursor
        if (std::fwrite(c.pixels.data(), 1, c.pixels.size(), out.get()) != c.pixels.size()) return 1;
    }
    return std::fclose(out.release()) == 0 ? 0 : 1;
}
