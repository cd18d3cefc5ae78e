// Draws the installation's images and writes them as GIF files into a folder:
// the spacer, the title-bar edges, the help and top icons, the path arrow, the
// link-colour squares, the image buttons and the footer badge, each at the size
// the pages give it.
//
//   make_images FOLDER
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Rgb {
  uint8_t r, g, b;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

// The colours of the pages.
constexpr Rgb kPage = {0xef, 0xef, 0xef};     // page background
constexpr Rgb kBar = {0xff, 0xd4, 0x00};      // title bar
constexpr Rgb kBarEdge = {0xc0, 0x97, 0x00};  // title bar edge
constexpr Rgb kBarLight = {0xff, 0xe8, 0x6a};
constexpr Rgb kInk = {0x3a, 0x30, 0x00};      // text on the bar colours
constexpr Rgb kWhite = {0xff, 0xff, 0xff};
constexpr Rgb kGrey = {0xa7, 0xa7, 0xa7};
constexpr Rgb kDark = {0x55, 0x55, 0x55};

// A picture with a palette; colour index 0 can be made transparent.
class Canvas {
 public:
  Canvas(int width, int height, Rgb background) : width_(width), height_(height) {
    pixels_.assign(static_cast<size_t>(width) * height, index_of(background));
  }
  int width() const { return width_; }
  int height() const { return height_; }
  void set_transparent() { transparent_ = true; }

  void put(int x, int y, Rgb colour) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    pixels_[static_cast<size_t>(y) * width_ + x] = index_of(colour);
  }
  void fill(int x, int y, int w, int h, Rgb colour) {
    for (int j = y; j < y + h; ++j)
      for (int i = x; i < x + w; ++i) put(i, j, colour);
  }

  bool write(const std::string& path) const;

 private:
  uint8_t index_of(Rgb colour) {
    for (size_t i = 0; i < palette_.size(); ++i)
      if (palette_[i] == colour) return static_cast<uint8_t>(i);
    palette_.push_back(colour);
    return static_cast<uint8_t>(palette_.size() - 1);
  }

  int width_, height_;
  bool transparent_ = false;
  std::vector<Rgb> palette_;
  std::vector<uint8_t> pixels_;
};

void put16(std::vector<uint8_t>& out, int value) {
  out.push_back(static_cast<uint8_t>(value & 0xff));
  out.push_back(static_cast<uint8_t>((value >> 8) & 0xff));
}

// GIF89a with a 256-entry colour table. The pixels are coded as literal LZW codes
// of 9 bits, with a clear code before the decoder's table would need a wider code:
// larger files than real compression gives, but nothing about code widths to get
// wrong, and these images are small.
bool Canvas::write(const std::string& path) const {
  std::vector<uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
  put16(out, width_);
  put16(out, height_);
  out.push_back(0xF7);  // global colour table of 2^(7+1) entries, 8 bits per primary
  out.push_back(0);     // background colour index
  out.push_back(0);     // no aspect ratio
  for (int i = 0; i < 256; ++i) {
    Rgb c = i < static_cast<int>(palette_.size()) ? palette_[i] : Rgb{0, 0, 0};
    out.push_back(c.r);
    out.push_back(c.g);
    out.push_back(c.b);
  }
  if (transparent_) {
    const uint8_t control[] = {0x21, 0xF9, 4, 0x01, 0, 0, 0, 0};  // index 0 is transparent
    out.insert(out.end(), control, control + sizeof control);
  }
  out.push_back(0x2C);
  put16(out, 0);
  put16(out, 0);
  put16(out, width_);
  put16(out, height_);
  out.push_back(0);  // no local table, not interlaced

  const int kMinCodeSize = 8, kClear = 256, kEnd = 257;
  std::vector<uint8_t> codes;
  uint32_t bits = 0;
  int count = 0;
  auto emit = [&](int code) {
    bits |= static_cast<uint32_t>(code) << count;
    count += 9;
    while (count >= 8) {
      codes.push_back(static_cast<uint8_t>(bits & 0xff));
      bits >>= 8;
      count -= 8;
    }
  };
  int since_clear = 0;
  emit(kClear);
  for (uint8_t pixel : pixels_) {
    if (since_clear == 250) {
      emit(kClear);
      since_clear = 0;
    }
    emit(pixel);
    ++since_clear;
  }
  emit(kEnd);
  if (count > 0) codes.push_back(static_cast<uint8_t>(bits & 0xff));

  out.push_back(kMinCodeSize);
  for (size_t at = 0; at < codes.size(); at += 255) {
    size_t n = codes.size() - at < 255 ? codes.size() - at : 255;
    out.push_back(static_cast<uint8_t>(n));
    out.insert(out.end(), codes.begin() + static_cast<long>(at), codes.begin() + static_cast<long>(at + n));
  }
  out.push_back(0);     // end of the image data
  out.push_back(0x3B);  // trailer

  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
  return std::fclose(file) == 0 && ok;
}

// A 5 by 7 pixel font of the characters the images use.
struct Glyph {
  char c;
  const char* rows[7];
};

const Glyph kFont[] = {
    {' ', {".....", ".....", ".....", ".....", ".....", ".....", "....."}},
    {'.', {".....", ".....", ".....", ".....", ".....", ".##..", ".##.."}},
    {'?', {".###.", "#...#", "....#", "..##.", "..#..", ".....", "..#.."}},
    {'3', {"####.", "....#", "....#", ".###.", "....#", "....#", "####."}},
    {'G', {".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".###."}},
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
    {'Q', {".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'a', {".....", ".....", ".###.", "....#", ".####", "#...#", ".####"}},
    {'b', {"#....", "#....", "####.", "#...#", "#...#", "#...#", "####."}},
    {'c', {".....", ".....", ".####", "#....", "#....", "#....", ".####"}},
    {'e', {".....", ".....", ".###.", "#...#", "#####", "#....", ".###."}},
    {'i', {"..#..", ".....", ".##..", "..#..", "..#..", "..#..", ".###."}},
    {'l', {".##..", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'m', {".....", ".....", "##.#.", "#.#.#", "#.#.#", "#.#.#", "#.#.#"}},
    {'o', {".....", ".....", ".###.", "#...#", "#...#", "#...#", ".###."}},
    {'r', {".....", ".....", "#.##.", "##..#", "#....", "#....", "#...."}},
    {'s', {".....", ".....", ".####", "#....", ".###.", "....#", "####."}},
    {'t', {".#...", ".#...", "####.", ".#...", ".#...", ".#..#", "..##."}},
    {'u', {".....", ".....", "#...#", "#...#", "#...#", "#..##", ".##.#"}},
    {'v', {".....", ".....", "#...#", "#...#", "#...#", ".#.#.", "..#.."}},
    {'w', {".....", ".....", "#...#", "#...#", "#.#.#", "#.#.#", ".#.#."}},
    {'y', {".....", ".....", "#...#", "#...#", ".####", "....#", ".###."}},
};

const Glyph* glyph(char c) {
  for (const Glyph& g : kFont)
    if (g.c == c) return &g;
  return nullptr;
}

// Width in pixels of a text: 6 per character (7 when bold), less the last gap.
int text_width(const char* text, bool bold) {
  int n = static_cast<int>(std::strlen(text));
  return n == 0 ? 0 : n * (bold ? 7 : 6) - 1;
}

// Draws a text with its top left corner at (x, y); false for a character the font lacks.
bool draw_text(Canvas& canvas, int x, int y, const char* text, Rgb colour, bool bold) {
  for (const char* p = text; *p; ++p) {
    const Glyph* g = glyph(*p);
    if (!g) {
      std::fprintf(stderr, "make_images: no glyph for '%c'\n", *p);
      return false;
    }
    for (int row = 0; row < 7; ++row)
      for (int col = 0; col < 5; ++col)
        if (g->rows[row][col] == '#') {
          canvas.put(x + col, y + row, colour);
          if (bold) canvas.put(x + col + 1, y + row, colour);
        }
    x += bold ? 7 : 6;
  }
  return true;
}

// The 4-pixel edges above and below the 17-pixel title bar: rounded ends in the
// edge colour and a light line on top, a shadow at the bottom.
Canvas title_edge(bool top) {
  const int w = 610;
  Canvas c(w, 4, kPage);
  for (int y = 0; y < 4; ++y) {
    int row = top ? y : 3 - y;  // 0 is the outer row
    int inset = row == 0 ? 3 : row == 1 ? 1 : 0;
    for (int x = inset; x < w - inset; ++x) {
      bool edge = row == 0 || x == inset || x == w - 1 - inset || (row == 1 && (x == inset + 1 || x == w - 2 - inset));
      Rgb fill = top && row == 1 ? kBarLight : kBar;
      c.put(x, y, edge ? kBarEdge : fill);
    }
  }
  return c;
}

// A round disc on the bar colour.
void disc(Canvas& c, int cx2, int cy2, int radius2, Rgb colour) {
  // Centre and radius are given in half pixels so that even sizes centre well.
  for (int y = 0; y < c.height(); ++y)
    for (int x = 0; x < c.width(); ++x) {
      int dx = 2 * x + 1 - cx2, dy = 2 * y + 1 - cy2;
      if (dx * dx + dy * dy <= radius2 * radius2) c.put(x, y, colour);
    }
}

Canvas help_icon() {
  Canvas c(19, 17, kBar);
  disc(c, 19, 17, 14, kBarEdge);
  draw_text(c, 7, 5, "?", kWhite, false);
  return c;
}

Canvas top_icon() {
  Canvas c(19, 17, kBar);
  disc(c, 19, 17, 14, kBarEdge);
  // An upward arrow: a triangle over a stem.
  for (int row = 0; row < 4; ++row) c.fill(9 - row, 4 + row, 2 * row + 1, 1, kWhite);
  c.fill(8, 8, 3, 4, kWhite);
  return c;
}

// The arrow between the pages of a visitor's path, on a transparent ground. The
// page aligns the image's bottom with the bottom of the text, so the arrow sits in
// the upper rows, at the height of the letters.
Canvas path_arrow() {
  Canvas c(12, 12, kWhite);
  c.set_transparent();
  c.fill(0, 4, 7, 3, kDark);
  for (int col = 0; col < 5; ++col) c.fill(7 + col, 1 + col, 1, 9 - 2 * col, kDark);
  return c;
}

Canvas square(Rgb colour) { return Canvas(8, 8, colour); }

// A button: rounded, with a light-to-dark fill in the bar colours and a bold label.
bool button(const char* label, int width, Canvas& out) {
  Canvas c(width, 20, kPage);
  c.set_transparent();  // the cut corners show the ground the button stands on
  for (int y = 0; y < 20; ++y) {
    int t = y * 255 / 19;
    Rgb fill = {0xff, static_cast<uint8_t>(0xec - (0xec - 0xc8) * t / 255), static_cast<uint8_t>(0x80 - 0x80 * t / 255)};
    c.fill(1, y, width - 2, 1, fill);
  }
  c.fill(1, 0, width - 2, 1, kBarEdge);
  c.fill(1, 19, width - 2, 1, kBarEdge);
  c.fill(0, 1, 1, 18, kBarEdge);
  c.fill(width - 1, 1, 1, 18, kBarEdge);
  int x = (width - text_width(label, true)) / 2;
  if (!draw_text(c, x, 7, label, kInk, true)) return false;
  out = c;
  return true;
}

// The 88 by 31 footer badge: a yellow block with a large Q, the name and the version.
bool badge(Canvas& out) {
  Canvas c(88, 31, kWhite);
  c.fill(0, 0, 88, 1, kGrey);
  c.fill(0, 30, 88, 1, kGrey);
  c.fill(0, 0, 1, 31, kGrey);
  c.fill(87, 0, 1, 31, kGrey);
  c.fill(1, 1, 23, 29, kBar);
  c.fill(24, 1, 1, 29, kBarEdge);
  // The Q at three times the font size.
  const Glyph* q = glyph('Q');
  for (int row = 0; row < 7; ++row)
    for (int col = 0; col < 5; ++col)
      if (q->rows[row][col] == '#') c.fill(5 + 3 * col, 5 + 3 * row, 3, 3, kInk);
  if (!draw_text(c, 27, 6, "Quillmoray", kInk, false)) return false;
  if (!draw_text(c, 27, 18, "v3.3 stats", kDark, false)) return false;
  out = c;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_images FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  Canvas spacer(1, 1, kWhite);
  spacer.set_transparent();
  Canvas go(1, 1, kPage), parse(1, 1, kPage), save(1, 1, kPage), reset(1, 1, kPage), footer(1, 1, kPage);
  if (!button("Go", 32, go) || !button("Parse", 97, parse) || !button("Save", 97, save) ||
      !button("Reset", 67, reset) || !badge(footer)) {
    return 1;
  }
  const struct {
    const char* name;
    Canvas canvas;
  } images[] = {
      {"i.gif", spacer},
      {"t_t.gif", title_edge(true)},
      {"t_b.gif", title_edge(false)},
      {"i_h.gif", help_icon()},
      {"i_t.gif", top_icon()},
      {"a.gif", path_arrow()},
      {"c_r.gif", square({0xff, 0x00, 0x00})},
      {"c_p.gif", square({0xff, 0x00, 0xff})},
      {"c_g.gif", square({0x00, 0xa0, 0x00})},
      {"c_b.gif", square({0x00, 0x00, 0xff})},
      {"go.gif", go},
      {"parse.gif", parse},
      {"save.gif", save},
      {"reset.gif", reset},
      {"31x88.gif", footer},
  };
  for (const auto& image : images) {
    if (!image.canvas.write(folder + "/" + image.name)) {
      std::fprintf(stderr, "make_images: cannot write %s/%s\n", folder.c_str(), image.name);
      return 1;
    }
  }
  return 0;
}
