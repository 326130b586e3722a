// Writes one deterministic benchmark sequence as raw bottom-up BGRA (as the recorder hands frames over).
//   generate_sequence KIND WIDTH HEIGHT FRAMES OUTPUT.bgra
// KIND: screen (editor desktop, a picture box moving 4 px per frame, a blinking cursor), drag (a text window
// dragged across the desktop by whole pixels per frame, changing direction every second), scroll (a document
// scrolled by smooth wheel steps and page jumps), video (a panned natural-like scene with grain in a 640x360
// window), fade (the whole desktop fading to black and back), noise (random pixels, the worst case).
// Real text, rendered by FreeType from Debian's DejaVu fonts with its anti-aliasing: textdrag (a window of
// text dragged slowly and diagonally over an editor, moving in every frame), textscrollN (a web page scrolled
// N px in every frame, without rests), textvideo (a video playing in a page of text).
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

uint32_t hash(uint32_t v) {
    v ^= v >> 16;
    v *= 0x7feb352d;
    v ^= v >> 15;
    v *= 0x846ca68b;
    return v ^ (v >> 16);
}

struct Canvas {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;  // 0xRRGGBB, top-down
    Canvas(int w, int h, uint32_t rgb) : width(w), height(h), pixels(size_t(w) * h, rgb) {}
    void set(int x, int y, uint32_t rgb) {
        if (x >= 0 && y >= 0 && x < width && y < height) pixels[size_t(y) * width + x] = rgb;
    }
    void fill(int x0, int y0, int w, int h, uint32_t rgb) {
        for (int y = std::max(0, y0); y < std::min(height, y0 + h); ++y)
            for (int x = std::max(0, x0); x < std::min(width, x0 + w); ++x) pixels[size_t(y) * width + x] = rgb;
    }
    // Pastes `c` with its top-left corner at (x0, y0), clipped.
    void paste(const Canvas& c, int x0, int y0) {
        for (int y = std::max(0, y0); y < std::min(height, y0 + c.height); ++y)
            for (int x = std::max(0, x0); x < std::min(width, x0 + c.width); ++x)
                pixels[size_t(y) * width + x] = c.pixels[size_t(y - y0) * c.width + (x - x0)];
    }
};

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

// Lines of coloured pseudo-words from (x0, y0), `lineHeight` apart, until `bottom` or `right`.
void drawText(Canvas& c, int x0, int y0, int right, int bottom, int lineHeight, uint32_t paper, uint32_t seed) {
    for (int line = 0; y0 + line * lineHeight + 13 < bottom; ++line) {
        const int y = y0 + line * lineHeight;
        int x = x0 + int(hash(seed + uint32_t(line)) % 6) * 28;
        const int words = int(hash(seed + uint32_t(line) + 77) % 12);
        uint32_t s = seed * 7919 + uint32_t(line) * 104729;
        for (int w = 0; w < words; ++w) {
            const int letters = 2 + int(hash(s++) % 9);
            if (x + letters * 7 >= right) break;
            const uint32_t ink = hash(s) % 4 == 0 ? 0x0000FF : hash(s) % 4 == 1 ? 0xA31515 : 0x1E1E1E;
            for (int l = 0; l < letters; ++l, x += 7) drawGlyph(c, x, y, hash(s++) % 80, ink, paper);
            x += 7;
        }
    }
}

Canvas desktop(int w, int h) {
    Canvas c(w, h, 0xFAFAFA);
    c.fill(0, 0, w, 32, 0x2B579A);              // title bar
    c.fill(0, 32, 260, h - 56, 0xE8E8EC);       // side bar
    c.fill(0, h - 24, w, 24, 0x007ACC);         // status bar
    c.fill(260, 32, 48, h - 56, 0xF0F0F0);      // line-number gutter
    for (int line = 0; 40 + line * 18 + 13 < h - 24; ++line)
        for (int d = 0; d < 3; ++d) drawGlyph(c, 270 + d * 7, 40 + line * 18, uint32_t(line * 10 + d), 0x999999, 0xF0F0F0);
    drawText(c, 320, 40, w - 100, h - 24, 18, 0xFAFAFA, 1);
    for (int item = 0; 44 + item * 20 + 13 < h - 24; ++item)  // file tree
        for (int l = 0; l < 8 + int(hash(uint32_t(item)) % 10); ++l)
            drawGlyph(c, 16 + (item % 5 == 0 ? 0 : 14) + l * 7, 44 + item * 20, hash(uint32_t(item * 31 + l)) % 80,
                      0x333333, 0xE8E8EC);
    return c;
}

Canvas textWindow(int w, int h) {
    Canvas c(w, h, 0xFFFFFF);
    c.fill(0, 0, w, 1, 0x707070), c.fill(0, h - 1, w, 1, 0x707070);
    c.fill(0, 0, 1, h, 0x707070), c.fill(w - 1, 0, 1, h, 0x707070);
    c.fill(1, 1, w - 2, 30, 0xDDE4EE);  // caption
    for (int i = 0; i < 20; ++i) drawGlyph(c, 12 + i * 7, 9, uint32_t(500 + i), 0x202020, 0xDDE4EE);
    drawText(c, 12, 40, w - 12, h - 8, 17, 0xFFFFFF, 99);
    return c;
}

void drawBox(Canvas& c, int x0, int y0) {
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) {
            const int r = (x * 255) / 320, g = (y * 255) / 240, b = ((x + y) * 2) & 0xFF;
            c.set(x0 + x, y0 + y, uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b / 2 + 64));
        }
    for (int i = 0; i < 24; ++i) drawGlyph(c, x0 + 20 + i * 7, y0 + 20, uint32_t(i), 0xFFFFFF, 0x000000);
}

// Smooth value noise in [0, 1) on a lattice of `cell` samples.
double valueNoise(double x, double y, int cell, uint32_t seed) {
    const double fx = x / cell, fy = y / cell;
    const int ix = int(std::floor(fx)), iy = int(std::floor(fy));
    const double tx = fx - ix, ty = fy - iy, sx = tx * tx * (3 - 2 * tx), sy = ty * ty * (3 - 2 * ty);
    auto at = [&](int a, int b) { return double(hash(uint32_t(a) * 73856093u ^ uint32_t(b) * 19349663u ^ seed) & 0xFFFF) / 65536; };
    const double top = at(ix, iy) + (at(ix + 1, iy) - at(ix, iy)) * sx;
    const double bottom = at(ix, iy + 1) + (at(ix + 1, iy + 1) - at(ix, iy + 1)) * sx;
    return top + (bottom - top) * sy;
}

// A natural-looking scene: fractal landscape colours, panned by a sub-pixel camera, a moving disc, and
// sensor grain that differs in every frame.
void drawVideo(Canvas& c, int x0, int y0, int w, int h, int frame) {
    const double camX = frame * 1.7, camY = 40 * std::sin(frame * 0.02);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double sx = x + camX, sy = y + camY;
            const double n = 0.5 * valueNoise(sx, sy, 64, 1) + 0.3 * valueNoise(sx, sy, 16, 2) + 0.2 * valueNoise(sx, sy, 4, 3);
            const double sky = double(y) / h;
            int r = int(60 + 150 * n * sky), g = int(90 + 140 * n), b = int(160 - 100 * sky + 60 * n);
            const double dx = x - (w / 2 + 180 * std::sin(frame * 0.05)), dy = y - (h / 2 + 60 * std::cos(frame * 0.07));
            if (dx * dx + dy * dy < 50 * 50) r = 220, g = int(120 + 60 * n), b = 40;
            const int grain = int(hash(uint32_t(frame) * 2654435761u + uint32_t(y * w + x)) % 9) - 4;
            auto clamp = [](int v) { return uint32_t(std::clamp(v, 0, 255)); };
            c.set(x0 + x, y0 + y, clamp(r + grain) << 16 | clamp(g + grain) << 8 | clamp(b + grain));
        }
}

// Real glyphs: FreeType's grey-scale anti-aliasing of Debian's DejaVu fonts, as a desktop draws them.
constexpr const char* kFontFolder = "/usr/share/fonts/truetype/dejavu/";

struct Glyph {
    int left = 0, top = 0, advance = 0, width = 0, rows = 0;
    std::vector<uint8_t> coverage;
};

struct Font {  // one face at one pixel size; every glyph rendered once
    FT_Face face = nullptr;
    int lineHeight = 0;
    std::map<char, Glyph> glyphs;
};

struct Fonts {
    FT_Library library = nullptr;
    Font sans, bold, mono, serif, heading;
    Fonts() {
        if (FT_Init_FreeType(&library)) std::abort();
        open(sans, "DejaVuSans.ttf", 13), open(bold, "DejaVuSans-Bold.ttf", 13), open(mono, "DejaVuSansMono.ttf", 13);
        open(serif, "DejaVuSerif.ttf", 15), open(heading, "DejaVuSans-Bold.ttf", 21);
    }
    ~Fonts() {
        for (Font* f : {&sans, &bold, &mono, &serif, &heading}) FT_Done_Face(f->face);
        FT_Done_FreeType(library);
    }
    Fonts(const Fonts&) = delete;
    Fonts& operator=(const Fonts&) = delete;

    void open(Font& font, const char* file, int pixels) {
        if (FT_New_Face(library, (std::string(kFontFolder) + file).c_str(), 0, &font.face) ||
            FT_Set_Pixel_Sizes(font.face, 0, FT_UInt(pixels))) {
            std::fprintf(stderr, "generate_sequence: cannot load %s%s (fonts-dejavu-core)\n", kFontFolder, file);
            std::exit(1);
        }
        font.lineHeight = pixels * 3 / 2;
    }
};

const Glyph& glyphOf(Font& font, char c) {
    auto found = font.glyphs.find(c);
    if (found != font.glyphs.end()) return found->second;
    Glyph g;
    if (FT_Load_Char(font.face, FT_ULong(static_cast<unsigned char>(c)), FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT) == 0) {
        const FT_GlyphSlot slot = font.face->glyph;
        g.left = slot->bitmap_left, g.top = slot->bitmap_top, g.advance = int(slot->advance.x >> 6);
        g.width = int(slot->bitmap.width), g.rows = int(slot->bitmap.rows);
        for (int y = 0; y < g.rows; ++y)
            g.coverage.insert(g.coverage.end(), slot->bitmap.buffer + y * slot->bitmap.pitch,
                              slot->bitmap.buffer + y * slot->bitmap.pitch + g.width);
    }
    return font.glyphs.emplace(c, std::move(g)).first->second;
}

int textWidth(Font& font, std::string_view text) {
    int width = 0;
    for (char ch : text) width += glyphOf(font, ch).advance;
    return width;
}

// Draws `text` with its baseline at y; returns the pen position after it.
int drawString(Canvas& c, Font& font, int x, int baseline, std::string_view text, uint32_t ink) {
    for (char ch : text) {
        const Glyph& g = glyphOf(font, ch);
        for (int gy = 0; gy < g.rows; ++gy)
            for (int gx = 0; gx < g.width; ++gx) {
                const int px = x + g.left + gx, py = baseline - g.top + gy, alpha = g.coverage[size_t(gy) * g.width + gx];
                if (alpha && px >= 0 && py >= 0 && px < c.width && py < c.height)
                    c.pixels[size_t(py) * c.width + px] = blend(c.pixels[size_t(py) * c.width + px], ink, alpha);
            }
        x += g.advance;
    }
    return x;
}

constexpr std::string_view kWords[] = {
    "the", "of", "and", "to", "a", "in", "is", "that", "for", "it", "as", "with", "was", "on", "be", "by", "this",
    "are", "from", "or", "which", "an", "but", "not", "all", "can", "when", "there", "each", "frame", "window",
    "screen", "record", "encoder", "quality", "picture", "motion", "vector", "block", "rate", "second", "video",
    "display", "scroll", "document", "reader", "slowly", "moves", "across", "desktop", "pixels", "bright", "sharp",
    "letters", "glyph", "smooth", "edges", "without", "between", "several", "because", "however", "through",
    "example", "meeting", "project", "report", "Monday", "figures", "budget", "results", "should", "would",
    "before", "after", "settings", "interval", "keyboard", "compression", "anti-aliasing", "Wednesday", "2026",
    "(see", "below)", "12.5%", "version", "3.1,", "user's", "files", "folder", "menu", "button", "light", "dark"};

std::string_view wordAt(uint32_t n) { return kWords[hash(n) % std::size(kWords)]; }

// Paragraphs of prose wrapped between x0 and right from y (the top of the first line); returns the y below.
int drawProse(Canvas& c, Font& font, int x0, int y, int right, int lines, uint32_t seed, uint32_t ink) {
    const int space = glyphOf(font, ' ').advance;
    int x = x0, line = 0;
    for (uint32_t n = seed * 1000;; ++n) {
        std::string word(wordAt(n));
        const bool sentenceStart = n == seed * 1000 || hash(n - 1) % 9 == 0;
        if (sentenceStart && word[0] >= 'a' && word[0] <= 'z') word[0] = char(word[0] - 'a' + 'A');
        if (hash(n) % 9 == 0) word += '.';
        else if (hash(n) % 13 == 0) word += ',';
        const int width = textWidth(font, word);
        if (x + width > right) {
            if (++line == lines) return y + font.lineHeight;
            x = x0, y += font.lineHeight;
        }
        // Now and then a link, blue like a browser's.
        x = drawString(c, font, x, y + font.lineHeight * 3 / 4, word, hash(n * 7) % 23 == 0 ? 0x1A0DAB : ink) + space;
    }
}

// A long web page: headings, paragraphs in two faces, code blocks, lists and pictures, in a column.
Canvas webPage(Fonts& fonts, int width, int height, uint32_t seed) {
    Canvas c(width, height, 0xFFFFFF);
    const int left = std::max(24, width / 2 - 420), right = std::min(width - 24, width / 2 + 420);
    for (int y = 24, block = 0; y < height; ++block) {
        const uint32_t kind = hash(seed + uint32_t(block)) % 8;
        if (block % 5 == 0) {
            std::string title(wordAt(seed + uint32_t(block)));
            title[0] = char(std::toupper(title[0]));
            title += ' ', title += wordAt(seed * 3 + uint32_t(block)), title += ' ', title += wordAt(seed * 5 + uint32_t(block));
            drawString(c, fonts.heading, left, y + 24, title, 0x202124);
            y += 44;
        } else if (kind == 0) {  // code block
            const int lines = 3 + int(hash(seed + uint32_t(block) * 3) % 6);
            c.fill(left, y, right - left, lines * fonts.mono.lineHeight + 16, 0xF4F5F7);
            for (int l = 0; l < lines; ++l) {
                std::string code(size_t(2 * (hash(uint32_t(block + l)) % 3)), ' ');
                code += l % 3 == 0 ? "if (" : "return ";
                code += wordAt(uint32_t(block * 31 + l)), code += "_", code += wordAt(uint32_t(block * 37 + l)), code += l % 3 == 0 ? ") {" : ";";
                drawString(c, fonts.mono, left + 12, y + 8 + l * fonts.mono.lineHeight + 15, code, l % 3 == 0 ? 0xA626A4 : 0x383A42);
            }
            y += lines * fonts.mono.lineHeight + 32;
        } else if (kind == 1) {  // a picture
            const int ph = 160 + int(hash(seed + uint32_t(block)) % 120), pw = std::min(right - left, 480);
            for (int py = 0; py < ph; ++py)
                for (int px = 0; px < pw; ++px) {
                    const double n = 0.6 * valueNoise(px, py + block * 300, 48, seed) + 0.4 * valueNoise(px, py, 12, seed + 1);
                    c.set(left + px, y + py, uint32_t(40 + 120 * n) << 16 | uint32_t(90 + 110 * n) << 8 | uint32_t(150 + 80 * n));
                }
            y += ph + 20;
        } else if (kind == 2) {  // a list
            for (int item = 0; item < 4; ++item) {
                c.fill(left + 10, y + 9, 5, 5, 0x202124);
                y = drawProse(c, fonts.sans, left + 26, y, right, 1, seed + uint32_t(block * 10 + item), 0x202124);
            }
            y += 12;
        } else {
            Font& font = kind % 2 ? fonts.serif : fonts.sans;
            y = drawProse(c, font, left, y, right, 3 + int(hash(seed + uint32_t(block) * 5) % 7), seed + uint32_t(block), 0x202124) + 14;
        }
    }
    return c;
}

// An editor on the desktop, all in real glyphs: title, file tree, line numbers and coloured code.
Canvas realDesktop(Fonts& fonts, int w, int h) {
    Canvas c(w, h, 0xFFFFFF);
    c.fill(0, 0, w, 30, 0x3C3C3C);
    drawString(c, fonts.sans, w / 2 - 120, 20, "report.cpp - project - Editor", 0xCCCCCC);
    c.fill(0, 30, 240, h - 52, 0xF3F3F3);
    c.fill(0, h - 22, w, 22, 0x007ACC);
    drawString(c, fonts.sans, 12, h - 6, "Ln 42, Col 17   Spaces: 4   UTF-8   C++", 0xFFFFFF);
    for (int item = 0; 52 + item * 22 < h - 22; ++item) {
        std::string name(wordAt(uint32_t(item) * 3 + 1));
        name += item % 4 ? ".cpp" : "";
        drawString(c, item % 4 ? fonts.sans : fonts.bold, item % 4 ? 28 : 12, 52 + item * 22, name, 0x333333);
    }
    static constexpr uint32_t kInk[] = {0x0000FF, 0x267F99, 0x795E26, 0x001080, 0x000000, 0x008000};
    for (int line = 0; 50 + line * 19 < h - 26; ++line) {
        const int baseline = 50 + line * 19;
        drawString(c, fonts.mono, 250, baseline, std::to_string(line + 1), 0x999999);
        int x = 300 + 32 * int(hash(uint32_t(line)) % 4);
        const int tokens = int(hash(uint32_t(line) + 11) % 9);
        for (int t = 0; t < tokens && x < w - 200; ++t) {
            const uint32_t n = uint32_t(line * 17 + t);
            std::string token(wordAt(n));
            token += t + 1 == tokens ? ";" : hash(n) % 3 == 0 ? "(" : " ";
            x = drawString(c, fonts.mono, x, baseline, token, kInk[hash(n + 5) % std::size(kInk)]);
        }
    }
    return c;
}

Canvas documentWindow(Fonts& fonts, int w, int h) {
    Canvas c = webPage(fonts, w, h, 31);
    c.fill(0, 0, w, 32, 0xDEE1E6);
    drawString(c, fonts.sans, 12, 21, "Meeting notes - Document Viewer", 0x202124);
    c.fill(0, 0, w, 1, 0x8A8A8A), c.fill(0, h - 1, w, 1, 0x8A8A8A), c.fill(0, 0, 1, h, 0x8A8A8A), c.fill(w - 1, 0, 1, h, 0x8A8A8A);
    return c;
}

// A browser's tab strip and address bar above the page.
void drawBrowserBar(Canvas& c, Fonts& fonts) {
    c.fill(0, 0, c.width, 76, 0xDEE1E6);
    c.fill(8, 6, 240, 30, 0xFFFFFF);
    drawString(c, fonts.sans, 20, 26, "Release notes - Project wiki", 0x202124);
    c.fill(100, 42, c.width - 200, 28, 0xF1F3F4);
    drawString(c, fonts.sans, 116, 61, "https://wiki.example.org/project/release-notes", 0x202124);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: generate_sequence screen|drag|scroll|video|fade|noise|textdrag|textscrollN|textvideo WIDTH HEIGHT FRAMES OUTPUT.bgra\n");
        return 2;
    }
    const std::string kind = argv[1];
    const int w = std::atoi(argv[2]), h = std::atoi(argv[3]), frames = std::atoi(argv[4]);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(argv[5], "wb"), &std::fclose);
    if (!out || w < 640 || h < 480) return 1;
    const bool realText = kind.rfind("text", 0) == 0;
    // textscrollN: the page moves N px in every frame.
    const int scrollSpeed = kind.rfind("textscroll", 0) == 0 ? std::atoi(kind.c_str() + 10) : 0;
    if (kind.rfind("textscroll", 0) == 0 && scrollSpeed <= 0) return 2;
    Fonts fonts;
    Canvas background = realText ? realDesktop(fonts, w, h) : desktop(w, h);
    const Canvas window = kind == "textdrag" ? documentWindow(fonts, std::min(900, w / 2), std::min(640, h / 2))
                                             : textWindow(std::min(800, w / 2), std::min(600, h / 2));
    Canvas document(w, h * 12, 0xFFFFFF);  // for scroll: a long page of text
    if (kind == "scroll") drawText(document, 40, 20, w - 40, document.height, 19, 0xFFFFFF, 7);
    if (scrollSpeed > 0 || kind == "textvideo") {
        document = webPage(fonts, w, h + frames * scrollSpeed, 5);
        background.paste(document, 0, 76);
        drawBrowserBar(background, fonts);
    }
    std::vector<uint8_t> bgra(size_t(w) * h * 4);
    // Drag directions, one per second: whole pixels per frame.
    static constexpr int kDrag[][2] = {{3, 2}, {-5, 0}, {0, -4}, {2, -3}, {-1, 1}, {6, 4}, {-4, -2}, {0, 3}};
    int windowX = w / 4, windowY = h / 4, scrollY = 0;
    for (int i = 0; i < frames; ++i) {
        Canvas c = background;
        if (kind == "screen") {
            const int travel = w - 320 - 400, pos = (i * 4) % (2 * travel);
            drawBox(c, 400 + (pos < travel ? pos : 2 * travel - pos), h / 2 - 40);
            if ((i / 15) % 2 == 0) c.fill(320 + 7 * 30, 40 + 12 * 18, 2, 16, 0x000000);  // cursor
        } else if (kind == "drag") {
            const int* d = kDrag[(i / 30) % 8];
            windowX = std::clamp(windowX + d[0], -window.width / 4, w - window.width * 3 / 4);
            windowY = std::clamp(windowY + d[1], 0, h - window.height / 2);
            c.paste(window, windowX, windowY);
        } else if (kind == "scroll") {
            // A wheel notch glides 60 px over 6 frames; every third second jumps a page instead.
            const int phase = i % 90;
            if (phase == 45) scrollY += h - 80;
            else if (phase % 15 < 6) scrollY += 10;
            scrollY %= document.height - h;
            for (int y = 32; y < h - 24; ++y)
                std::memcpy(&c.pixels[size_t(y) * w + 260], &document.pixels[size_t(y + scrollY) * w], size_t(w - 260) * 4);
        } else if (kind == "textdrag") {
            // Slowly and diagonally, a new direction every second, the window moving in every frame.
            static constexpr int kSlow[][2] = {{1, 1}, {2, 1}, {-1, 2}, {-2, -1}, {1, -1}, {-1, -1}, {2, 2}, {-1, 1}};
            const int* d = kSlow[(i / 30) % 8];
            windowX = std::clamp(windowX + d[0], 0, w - window.width);
            windowY = std::clamp(windowY + d[1], 0, h - window.height);
            c.paste(window, windowX, windowY);
        } else if (scrollSpeed > 0) {
            for (int y = 76; y < h; ++y)
                std::memcpy(&c.pixels[size_t(y) * w], &document.pixels[size_t(y - 76 + i * scrollSpeed) * w], size_t(w) * 4);
        } else if (kind == "textvideo") {
            const int vw = 640, vh = 360, vx = (w - vw) / 2, vy = 76 + 180;
            drawVideo(c, vx, vy, vw, vh, i);
        } else if (kind == "video") {
            const int vw = 640, vh = 360, vx = (w - vw) / 2, vy = (h - vh) / 2;
            c.fill(vx - 4, vy - 34, vw + 8, vh + 38, 0x303030);  // player frame and caption
            drawVideo(c, vx, vy, vw, vh, i);
        } else if (kind == "fade") {
            // Out over two seconds, back in over two, then a second at rest.
            const int phase = i % 150, alpha = phase < 60 ? phase * 255 / 60 : phase < 120 ? (120 - phase) * 255 / 60 : 0;
            for (uint32_t& p : c.pixels) p = blend(p, 0x000000, alpha);
        } else if (kind == "noise") {
            for (size_t p = 0; p < c.pixels.size(); ++p) c.pixels[p] = hash(uint32_t(i) * 0x9E3779B9u + uint32_t(p)) & 0xFFFFFF;
        } else {
            return 2;
        }
        for (int y = 0; y < h; ++y) std::memcpy(&bgra[size_t(h - 1 - y) * w * 4], &c.pixels[size_t(y) * w], size_t(w) * 4);
        if (std::fwrite(bgra.data(), 1, bgra.size(), out.get()) != bgra.size()) return 1;
    }
    return std::fclose(out.release()) == 0 ? 0 : 1;
}
