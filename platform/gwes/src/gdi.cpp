// GDI of the simulated device: the screen framebuffer, device contexts, brushes, pens and
// fonts. Fonts are real font files (Debian's DejaVu faces) read through FreeType, so metrics
// and measured widths are those of real glyphs.
//
// Which face stands for which family:
//   swiss / "Tahoma", "Arial", "Helvetica", "MS Sans Serif", "Segoe UI", "Verdana"  DejaVu Sans
//   roman / "Times New Roman", "Times", "Georgia"                                  DejaVu Serif
//   modern / fixed pitch / "Courier New", "Courier", "Lucida Console"             DejaVu Sans Mono
// Bold (weight 600 and more) and italic pick the matching DejaVu file. A face name the device
// does not know falls back to the family's face ("Tahoma", "Times New Roman", "Courier New").
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include <png.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "gwes_internal.h"
#include "vork/text.h"
#include "vork/window_control.h"

using namespace vork;

namespace {

// ---- Screen ----------------------------------------------------------------------------------

std::recursive_mutex gdiLock;  // GDI state; never held while taking the wait lock
std::atomic<int> width{240}, height{320}, bits{16}, dpi{96};
std::atomic<bool> workAreaSet{false};
RECT customWorkArea{};
std::vector<uint32_t> pixels;  // 0x00RRGGBB, as stored at the screen's depth

uint32_t quantize(uint32_t rgb) {
  if (bits != 16) return rgb & 0xFFFFFF;
  uint32_t r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
  r >>= 3;
  g >>= 2;
  b >>= 3;
  return ((r << 3 | r >> 2) << 16) | ((g << 2 | g >> 4) << 8) | (b << 3 | b >> 2);
}

uint32_t rgbOf(COLORREF c) { return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c); }
COLORREF colourOf(uint32_t rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

// The shell's desktop and task bar over an area of the screen.
void drawDesktop(const RECT& area) {
  uint32_t desktop = quantize(rgbOf(GetSysColor(COLOR_BACKGROUND)));
  uint32_t bar = quantize(rgbOf(GetSysColor(COLOR_ACTIVECAPTION)));
  RECT work = gwes::workArea();
  RECT screen{0, 0, width, height}, r;
  if (!IntersectRect(&r, &area, &screen)) return;
  for (int y = r.top; y < r.bottom; ++y) {
    for (int x = r.left; x < r.right; ++x) {
      POINT p{x, y};
      pixels[static_cast<size_t>(y) * width + x] = PtInRect(&work, p) ? desktop : bar;
    }
  }
}

void ensureScreen() {
  size_t n = static_cast<size_t>(width) * height;
  if (pixels.size() == n) return;
  pixels.assign(n, 0);
  drawDesktop(RECT{0, 0, width, height});
}

void readEnvironmentScreen() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (const char* setting = std::getenv("VORK_SCREEN")) {
      int w, h, b = 16, d = 96;
      if (std::sscanf(setting, "%dx%dx%d@%d", &w, &h, &b, &d) >= 2) VorkControl_SetScreen(w, h, b, d);
    }
  });
}

// ---- Clip regions ------------------------------------------------------------------------------
// A region is a set of non-overlapping rectangles in screen coordinates.

typedef std::vector<RECT> Region;

bool regionContains(const Region& region, POINT p) {
  for (const RECT& r : region) {
    if (PtInRect(&r, p)) return true;
  }
  return false;
}

void regionIntersect(Region& region, const RECT& with) {
  Region out;
  for (const RECT& r : region) {
    RECT both;
    if (IntersectRect(&both, &r, &with)) out.push_back(both);
  }
  region.swap(out);
}

void regionSubtract(Region& region, const RECT& hole) {
  Region out;
  for (const RECT& r : region) {
    RECT cut;
    if (!IntersectRect(&cut, &r, &hole)) {
      out.push_back(r);
      continue;
    }
    if (r.top < cut.top) out.push_back(RECT{r.left, r.top, r.right, cut.top});
    if (cut.bottom < r.bottom) out.push_back(RECT{r.left, cut.bottom, r.right, r.bottom});
    if (r.left < cut.left) out.push_back(RECT{r.left, cut.top, cut.left, cut.bottom});
    if (cut.right < r.right) out.push_back(RECT{cut.right, cut.top, r.right, cut.bottom});
  }
  region.swap(out);
}

// ---- Objects ---------------------------------------------------------------------------------

struct FontData;

struct GdiObject {
  DWORD type;
  bool stock;
  int selected;  // number of device contexts it is selected into
  COLORREF colour;
  int penStyle;
  int penWidth;
  FontData* font;
};

struct FontData {
  LOGFONTW logical;
  std::string file;
  FT_Face face;
  double em;  // pixels per em
  TEXTMETRICW metrics;
  std::u16string faceName;
  std::map<char16_t, int> advances;
};

std::set<GdiObject*> objects;

GdiObject* objectOf(HGDIOBJ handle, DWORD type = 0) {
  auto* object = reinterpret_cast<GdiObject*>(handle);
  if (!objects.count(object) || (type && object->type != type)) return nullptr;
  return object;
}

struct DeviceContext {
  HWND window;
  bool memory;
  POINT origin;  // screen position of the DC's (0, 0)
  Region clip;   // screen coordinates
  GdiObject* font;
  GdiObject* brush;
  GdiObject* pen;
  COLORREF text;
  COLORREF background;
  int backgroundMode;
  POINT position;
};

std::set<DeviceContext*> contexts;

DeviceContext* contextOf(HDC handle) {
  auto* dc = reinterpret_cast<DeviceContext*>(handle);
  return contexts.count(dc) ? dc : nullptr;
}

// ---- Fonts -----------------------------------------------------------------------------------

FT_Library library() {
  static FT_Library lib = [] {
    FT_Library l = nullptr;
    if (FT_Init_FreeType(&l)) l = nullptr;
    return l;
  }();
  return lib;
}

std::string fontDirectory() {
  const char* dir = std::getenv("VORK_FONT_DIR");
  return dir ? dir : "/usr/share/fonts/truetype/dejavu";
}

enum Family { Sans, Serif, Mono };

bool knownFace(const std::u16string& name, Family& family) {
  static const struct {
    const char16_t* name;
    Family family;
  } faces[] = {
      {u"TAHOMA", Sans},         {u"ARIAL", Sans},          {u"HELVETICA", Sans},     {u"MS SANS SERIF", Sans},
      {u"SEGOE UI", Sans},       {u"VERDANA", Sans},        {u"DEJAVU SANS", Sans},   {u"TIMES NEW ROMAN", Serif},
      {u"TIMES", Serif},         {u"GEORGIA", Serif},       {u"DEJAVU SERIF", Serif}, {u"COURIER NEW", Mono},
      {u"COURIER", Mono},        {u"LUCIDA CONSOLE", Mono}, {u"DEJAVU SANS MONO", Mono},
  };
  std::u16string key = gwes::upper(name);
  for (const auto& f : faces) {
    if (key == f.name) {
      family = f.family;
      return true;
    }
  }
  return false;
}

std::string faceFile(Family family, bool bold, bool italic) {
  const char* base = family == Sans ? "DejaVuSans" : family == Serif ? "DejaVuSerif" : "DejaVuSansMono";
  std::string style;
  if (bold && italic) style = family == Serif ? "-BoldItalic" : "-BoldOblique";
  else if (bold) style = "-Bold";
  else if (italic) style = family == Serif ? "-Italic" : "-Oblique";
  return fontDirectory() + "/" + base + style + ".ttf";
}

FT_Face openFace(const std::string& file) {
  static std::map<std::string, FT_Face> faces;
  auto found = faces.find(file);
  if (found != faces.end()) return found->second;
  FT_Face face = nullptr;
  if (!library() || FT_New_Face(library(), file.c_str(), 0, &face)) return nullptr;
  faces[file] = face;
  return face;
}

void setSize(FontData* font) {
  FT_Set_Char_Size(font->face, 0, static_cast<FT_F26Dot6>(std::lround(font->em * 64)), 72, 72);
}

int advanceOf(FontData* font, char16_t c) {
  auto found = font->advances.find(c);
  if (found != font->advances.end()) return found->second;
  setSize(font);
  int advance = 0;
  if (!FT_Load_Char(font->face, c, FT_LOAD_DEFAULT)) advance = static_cast<int>((font->face->glyph->advance.x + 32) >> 6);
  font->advances[c] = advance;
  return advance;
}

FontData* makeFont(const LOGFONTW& logical) {
  std::u16string requested(logical.lfFaceName, std::find(logical.lfFaceName, logical.lfFaceName + LF_FACESIZE, 0));
  Family family;
  std::u16string name;
  if (!requested.empty() && knownFace(requested, family)) {
    name = requested;
  } else {
    int kind = logical.lfPitchAndFamily & 0xF0;
    if (kind == FF_ROMAN) family = Serif;
    else if (kind == FF_MODERN || (logical.lfPitchAndFamily & 0x3) == FIXED_PITCH) family = Mono;
    else family = Sans;
    name = family == Sans ? u"Tahoma" : family == Serif ? u"Times New Roman" : u"Courier New";
  }
  LONG weight = logical.lfWeight ? logical.lfWeight : FW_NORMAL;
  auto* font = new FontData{};
  font->logical = logical;
  font->file = faceFile(family, weight >= FW_SEMIBOLD, logical.lfItalic != 0);
  font->face = openFace(font->file);
  if (!font->face) {
    delete font;
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  font->faceName = name;
  FT_Face face = font->face;
  double upem = face->units_per_EM;
  double ascent = face->ascender, descent = -face->descender;
  auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  if (os2 && os2->usWinAscent + os2->usWinDescent > 0) {
    ascent = os2->usWinAscent;
    descent = os2->usWinDescent;
  }
  LONG cell;
  if (logical.lfHeight > 0) {
    cell = logical.lfHeight;
    font->em = cell * upem / (ascent + descent);
  } else {
    font->em = logical.lfHeight < 0 ? -logical.lfHeight : std::round(8.0 * dpi / 72.0);
    cell = std::lround(font->em * (ascent + descent) / upem);
  }
  TEXTMETRICW& tm = font->metrics;
  tm.tmHeight = cell;
  tm.tmAscent = std::lround(ascent * font->em / upem);
  tm.tmDescent = cell - tm.tmAscent;
  tm.tmInternalLeading = std::max<LONG>(0, cell - std::lround(font->em));
  tm.tmExternalLeading = std::max<LONG>(0, std::lround((face->height - (ascent + descent)) * font->em / upem));
  tm.tmAveCharWidth = os2 ? std::lround(os2->xAvgCharWidth * font->em / upem) : advanceOf(font, u'x');
  tm.tmMaxCharWidth = std::lround(face->max_advance_width * font->em / upem);
  tm.tmWeight = weight;
  tm.tmOverhang = 0;
  tm.tmDigitizedAspectX = tm.tmDigitizedAspectY = dpi;
  tm.tmFirstChar = 0x20;
  tm.tmLastChar = 0xFFFC;
  tm.tmDefaultChar = 0x1F;
  tm.tmBreakChar = 0x20;
  tm.tmItalic = logical.lfItalic ? 1 : 0;
  tm.tmUnderlined = logical.lfUnderline ? 1 : 0;
  tm.tmStruckOut = logical.lfStrikeOut ? 1 : 0;
  BYTE familyBits = family == Sans ? FF_SWISS : family == Serif ? FF_ROMAN : FF_MODERN;
  tm.tmPitchAndFamily = familyBits | TMPF_TRUETYPE | TMPF_VECTOR | (family == Mono ? 0 : TMPF_FIXED_PITCH);
  tm.tmCharSet = logical.lfCharSet == DEFAULT_CHARSET ? ANSI_CHARSET : logical.lfCharSet;
  return font;
}

GdiObject* newObject(DWORD type, bool stock = false) {
  auto* object = new GdiObject{};
  object->type = type;
  object->stock = stock;
  objects.insert(object);
  return object;
}

GdiObject* stockObject(int index) {
  static GdiObject* stock[SYSTEM_FONT + 1] = {};
  if (index < 0 || index > SYSTEM_FONT) return nullptr;
  if (stock[index]) return stock[index];
  GdiObject* o = nullptr;
  switch (index) {
    case WHITE_BRUSH: o = newObject(OBJ_BRUSH, true); o->colour = RGB(255, 255, 255); break;
    case LTGRAY_BRUSH: o = newObject(OBJ_BRUSH, true); o->colour = RGB(192, 192, 192); break;
    case GRAY_BRUSH: o = newObject(OBJ_BRUSH, true); o->colour = RGB(128, 128, 128); break;
    case DKGRAY_BRUSH: o = newObject(OBJ_BRUSH, true); o->colour = RGB(64, 64, 64); break;
    case BLACK_BRUSH: o = newObject(OBJ_BRUSH, true); o->colour = RGB(0, 0, 0); break;
    case NULL_BRUSH: o = newObject(OBJ_BRUSH, true); o->colour = CLR_INVALID; break;
    case WHITE_PEN: o = newObject(OBJ_PEN, true); o->colour = RGB(255, 255, 255); o->penWidth = 1; break;
    case BLACK_PEN: o = newObject(OBJ_PEN, true); o->colour = RGB(0, 0, 0); o->penWidth = 1; break;
    case NULL_PEN: o = newObject(OBJ_PEN, true); o->penStyle = PS_NULL; break;
    case SYSTEM_FONT: {
      LOGFONTW lf{};
      lf.lfHeight = -std::lround(9.0 * dpi / 72.0);
      lf.lfWeight = FW_NORMAL;
      lf.lfCharSet = DEFAULT_CHARSET;
      std::u16string face = u"Tahoma";
      std::copy(face.begin(), face.end(), lf.lfFaceName);
      FontData* data = makeFont(lf);
      if (!data) return nullptr;
      o = newObject(OBJ_FONT, true);
      o->font = data;
      break;
    }
    default: return nullptr;
  }
  stock[index] = o;
  return o;
}

// ---- Drawing helpers (under gdiLock) ------------------------------------------------------------

void putPixel(const DeviceContext* dc, int x, int y, uint32_t rgb) {
  if (dc->memory) return;
  POINT p{x + dc->origin.x, y + dc->origin.y};
  if (!regionContains(dc->clip, p) || p.x < 0 || p.y < 0 || p.x >= width || p.y >= height) return;
  ensureScreen();
  pixels[static_cast<size_t>(p.y) * width + p.x] = quantize(rgb);
}

void blendPixel(const DeviceContext* dc, int x, int y, uint32_t rgb, unsigned alpha) {
  if (dc->memory || alpha == 0) return;
  POINT p{x + dc->origin.x, y + dc->origin.y};
  if (!regionContains(dc->clip, p) || p.x < 0 || p.y < 0 || p.x >= width || p.y >= height) return;
  ensureScreen();
  uint32_t& target = pixels[static_cast<size_t>(p.y) * width + p.x];
  auto mix = [&](int shift) {
    unsigned a = (rgb >> shift) & 0xFF, b = (target >> shift) & 0xFF;
    return ((a * alpha + b * (255 - alpha)) / 255) << shift;
  };
  target = quantize(mix(16) | mix(8) | mix(0));
}

void fillArea(const DeviceContext* dc, RECT r, uint32_t rgb) {
  if (dc->memory) return;
  ensureScreen();
  OffsetRect(&r, dc->origin.x, dc->origin.y);
  RECT screen{0, 0, width, height};
  uint32_t stored = quantize(rgb);
  for (const RECT& part : dc->clip) {
    RECT area;
    if (!IntersectRect(&area, &r, &part) || !IntersectRect(&area, &area, &screen)) continue;
    for (int y = area.top; y < area.bottom; ++y) {
      std::fill(pixels.begin() + static_cast<size_t>(y) * width + area.left,
                pixels.begin() + static_cast<size_t>(y) * width + area.right, stored);
    }
  }
}

FontData* currentFont(DeviceContext* dc) {
  if (dc->font && dc->font->font) return dc->font->font;
  GdiObject* system = stockObject(SYSTEM_FONT);
  return system ? system->font : nullptr;
}

int textWidth(FontData* font, const WCHAR* text, int length) {
  int total = 0;
  for (int i = 0; i < length; ++i) total += advanceOf(font, text[i]);
  return total;
}

void drawText(DeviceContext* dc, int x, int y, const WCHAR* text, int length) {
  FontData* font = currentFont(dc);
  if (!font) return;
  setSize(font);
  uint32_t colour = rgbOf(dc->text);
  int baseline = y + font->metrics.tmAscent;
  int penX = x;
  for (int i = 0; i < length; ++i) {
    if (!FT_Load_Char(font->face, text[i], FT_LOAD_RENDER)) {
      FT_GlyphSlot glyph = font->face->glyph;
      const FT_Bitmap& bitmap = glyph->bitmap;
      for (unsigned row = 0; row < bitmap.rows; ++row) {
        for (unsigned column = 0; column < bitmap.width; ++column) {
          unsigned alpha = bitmap.buffer[row * bitmap.pitch + column];
          blendPixel(dc, penX + glyph->bitmap_left + static_cast<int>(column),
                     baseline - glyph->bitmap_top + static_cast<int>(row), colour, alpha);
        }
      }
    }
    penX += advanceOf(font, text[i]);
    setSize(font);
  }
  int thickness = std::max<int>(1, font->metrics.tmHeight / 14);
  if (font->metrics.tmUnderlined) fillArea(dc, RECT{x, baseline + 1, penX, baseline + 1 + thickness}, colour);
  if (font->metrics.tmStruckOut) {
    int strike = baseline - font->metrics.tmAscent / 3;
    fillArea(dc, RECT{x, strike, penX, strike + thickness}, colour);
  }
}

}  // namespace

namespace gwes {

int screenWidth() {
  readEnvironmentScreen();
  return width;
}
int screenHeight() {
  readEnvironmentScreen();
  return height;
}
int screenDpi() {
  readEnvironmentScreen();
  return dpi;
}

void paintDesktop(const RECT& area) {
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  ensureScreen();
  drawDesktop(area);
}

RECT workArea() {
  readEnvironmentScreen();
  if (workAreaSet) {
    std::lock_guard<std::recursive_mutex> guard(gdiLock);
    return customWorkArea;
  }
  int bar = 26 * dpi / 96;
  return RECT{0, std::min<int>(bar, height), width, height};
}

}  // namespace gwes

static BOOL workAreaParameter(UINT action, UINT, LPVOID data, UINT) {
  if (action != SPI_GETWORKAREA || !data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  RECT work = gwes::workArea();
  std::memcpy(data, &work, sizeof work);
  return TRUE;
}

static std::atomic<unsigned> wheelLines{3};

static BOOL wheelParameter(UINT action, UINT, LPVOID data, UINT) {
  if (action != SPI_GETWHEELSCROLLLINES || !data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  UINT lines = wheelLines;
  std::memcpy(data, &lines, sizeof lines);
  return TRUE;
}

static const bool parametersRegistered = [] {
  registerSystemParameter(SPI_GETWORKAREA, workAreaParameter);
  registerSystemParameter(SPI_GETWHEELSCROLLLINES, wheelParameter);
  return true;
}();

extern "C" void VorkControl_SetWheelScrollLines(unsigned lines) { wheelLines = lines; }

// ---- Control interface ---------------------------------------------------------------------------

extern "C" int VorkControl_SetScreen(int w, int h, int b, int d) {
  if (w <= 0 || h <= 0 || w > 4096 || h > 4096 || (b != 16 && b != 32 && b != 24) || d <= 0 || d > 1000) return 0;
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  width = w;
  height = h;
  bits = b;
  dpi = d;
  pixels.clear();
  return 1;
}

extern "C" void VorkControl_SetWorkArea(int left, int top, int right, int bottom) {
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  customWorkArea = RECT{left, top, right, bottom};
  workAreaSet = true;
}

extern "C" int32_t VorkControl_ScreenPixel(int x, int y) {
  readEnvironmentScreen();
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  if (x < 0 || y < 0 || x >= width || y >= height) return -1;
  ensureScreen();
  return static_cast<int32_t>(pixels[static_cast<size_t>(y) * width + x]);
}

static bool writePng(FILE* out, int w, int h, const uint8_t* rows) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, out);
  png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < h; ++y) png_write_row(png, const_cast<uint8_t*>(rows + static_cast<size_t>(y) * w * 3));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

extern "C" int VorkControl_SaveScreenPng(const char* path) {
  readEnvironmentScreen();
  std::vector<uint8_t> rows;
  int w, h;
  {
    std::lock_guard<std::recursive_mutex> guard(gdiLock);
    ensureScreen();
    w = width;
    h = height;
    rows.resize(static_cast<size_t>(w) * h * 3);
    for (size_t i = 0; i < pixels.size(); ++i) {
      rows[i * 3] = (pixels[i] >> 16) & 0xFF;
      rows[i * 3 + 1] = (pixels[i] >> 8) & 0xFF;
      rows[i * 3 + 2] = pixels[i] & 0xFF;
    }
  }
  FILE* out = path ? std::fopen(path, "wb") : nullptr;
  if (!out) return 0;
  bool written = writePng(out, w, h, rows.data());
  return std::fclose(out) == 0 && written ? 1 : 0;
}

// ---- Device contexts --------------------------------------------------------------------------

static HDC newContext(HWND handle, bool memory, POINT origin, const Region& clip) {
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  auto* dc = new DeviceContext{};
  dc->window = handle;
  dc->memory = memory;
  dc->origin = origin;
  dc->clip = clip;
  dc->brush = stockObject(WHITE_BRUSH);
  dc->pen = stockObject(BLACK_PEN);
  dc->font = stockObject(SYSTEM_FONT);
  for (GdiObject* o : {dc->brush, dc->pen, dc->font}) {
    if (o) ++o->selected;
  }
  dc->text = RGB(0, 0, 0);
  dc->background = RGB(255, 255, 255);
  dc->backgroundMode = OPAQUE;
  contexts.insert(dc);
  return reinterpret_cast<HDC>(dc);
}

// What of the client area (or the whole window) shows on the screen: clipped by the
// ancestors' client areas, less the top-level windows above it, the siblings above it (and
// above its ancestors) that clip siblings, and its children when it clips children.
static bool windowArea(HWND handle, bool whole, POINT& origin, Region& clip) {
  auto lock = waitLock();
  gwes::Window* w = gwes::window(handle);
  if (!w) return false;
  RECT area = whole ? gwes::screenRect(w) : gwes::clientScreenRect(w);
  origin = {area.left, area.top};
  clip.assign(1, area);
  if (!gwes::reallyVisible(w)) {
    clip.clear();
    return true;
  }
  for (gwes::Window* cur = w; cur; cur = cur->parent ? gwes::window(cur->parent) : nullptr) {
    gwes::Window* parent = cur->parent ? gwes::window(cur->parent) : nullptr;
    if (parent) regionIntersect(clip, gwes::clientScreenRect(parent));
    bool clipsSiblings = !parent || (cur->style & WS_CLIPSIBLINGS);
    if (!clipsSiblings) continue;
    const std::vector<HWND>& siblings = parent ? parent->children : gwes::state().topLevel;
    for (HWND sibling : siblings) {
      if (sibling == cur->handle) break;  // the rest are below
      gwes::Window* above = gwes::window(sibling);
      if (above && (above->style & WS_VISIBLE)) regionSubtract(clip, gwes::screenRect(above));
    }
  }
  if (!whole && (w->style & WS_CLIPCHILDREN)) {
    for (HWND childHandle : w->children) {
      gwes::Window* child = gwes::window(childHandle);
      if (child && (child->style & WS_VISIBLE)) regionSubtract(clip, gwes::screenRect(child));
    }
  }
  return true;
}

HDC GetDC(HWND handle) {
  readEnvironmentScreen();
  if (!handle) return newContext(nullptr, false, POINT{0, 0}, Region{RECT{0, 0, width, height}});
  POINT origin;
  Region clip;
  if (!windowArea(handle, false, origin, clip)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return newContext(handle, false, origin, clip);
}

HDC GetWindowDC(HWND handle) {
  if (!handle) return GetDC(nullptr);
  POINT origin;
  Region clip;
  if (!windowArea(handle, true, origin, clip)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return newContext(handle, false, origin, clip);
}

static BOOL deleteContext(HDC handle) {
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  DeviceContext* dc = contextOf(handle);
  if (!dc) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  for (GdiObject* o : {dc->brush, dc->pen, dc->font}) {
    if (o) --o->selected;
  }
  contexts.erase(dc);
  delete dc;
  return TRUE;
}

int ReleaseDC(HWND, HDC dc) { return deleteContext(dc); }

HDC CreateCompatibleDC(HDC) { return newContext(nullptr, true, POINT{0, 0}, Region{RECT{0, 0, 1, 1}}); }

BOOL DeleteDC(HDC dc) { return deleteContext(dc); }

HWND WindowFromDC(HDC handle) {
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  DeviceContext* dc = contextOf(handle);
  return dc ? dc->window : nullptr;
}

int GetDeviceCaps(HDC handle, int index) {
  readEnvironmentScreen();
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  if (!contextOf(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  switch (index) {
    case HORZRES: return width;
    case VERTRES: return height;
    case HORZSIZE: return width * 254 / (dpi * 10);
    case VERTSIZE: return height * 254 / (dpi * 10);
    case BITSPIXEL: return bits;
    case PLANES: return 1;
    case NUMCOLORS: return -1;
    case LOGPIXELSX:
    case LOGPIXELSY: return dpi;
  }
  return 0;
}

// The system draws the frame of a window: border, client edge, caption with the title, and
// the places of its scroll bars.
struct Frame {
  RECT insets;
  RECT window;  // window coordinates
  DWORD style;
  DWORD exStyle;
  bool active;
  std::u16string title;
};

static void drawFrame(HWND handle, const Frame& frame) {
  HDC dc = GetWindowDC(handle);
  if (!dc) return;
  const RECT& r = frame.window;
  auto fill = [&](RECT area, int colour) { FillRect(dc, &area, GetSysColorBrush(colour)); };
  int border = (frame.style & (WS_BORDER | WS_DLGFRAME | WS_THICKFRAME)) || (frame.exStyle & WS_EX_DLGMODALFRAME) ? 1 : 0;
  if (border) {
    fill(RECT{r.left, r.top, r.right, r.top + 1}, COLOR_WINDOWFRAME);
    fill(RECT{r.left, r.bottom - 1, r.right, r.bottom}, COLOR_WINDOWFRAME);
    fill(RECT{r.left, r.top, r.left + 1, r.bottom}, COLOR_WINDOWFRAME);
    fill(RECT{r.right - 1, r.top, r.right, r.bottom}, COLOR_WINDOWFRAME);
  }
  RECT inner{r.left + border, r.top + border, r.right - border, r.bottom - border};
  if ((frame.style & WS_CAPTION) == WS_CAPTION) {
    int height = GetSystemMetrics(SM_CYCAPTION);
    fill(RECT{inner.left, inner.top, inner.right, inner.top + height}, frame.active ? COLOR_ACTIVECAPTION : COLOR_INACTIVECAPTION);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(frame.active ? COLOR_CAPTIONTEXT : COLOR_INACTIVECAPTIONTEXT));
    RECT text{inner.left + 4, inner.top, inner.right - 2, inner.top + height};
    DrawTextW(dc, frame.title.c_str(), static_cast<int>(frame.title.size()), &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
    inner.top += height;
  }
  if (frame.exStyle & WS_EX_CLIENTEDGE) {
    fill(RECT{inner.left, inner.top, inner.right, inner.top + 2}, COLOR_BTNSHADOW);
    fill(RECT{inner.left, inner.top, inner.left + 2, inner.bottom}, COLOR_BTNSHADOW);
    fill(RECT{inner.left, inner.bottom - 2, inner.right, inner.bottom}, COLOR_BTNHIGHLIGHT);
    fill(RECT{inner.right - 2, inner.top, inner.right, inner.bottom}, COLOR_BTNHIGHLIGHT);
    InflateRect(&inner, -2, -2);
  }
  if (frame.style & WS_VSCROLL) fill(RECT{inner.right - GetSystemMetrics(SM_CXVSCROLL), inner.top, inner.right, inner.bottom}, COLOR_SCROLLBAR);
  if (frame.style & WS_HSCROLL) fill(RECT{inner.left, inner.bottom - GetSystemMetrics(SM_CYHSCROLL), inner.right, inner.bottom}, COLOR_SCROLLBAR);
  ReleaseDC(handle, dc);
}

HDC BeginPaint(HWND handle, LPPAINTSTRUCT paint) {
  if (!paint) return nullptr;
  std::memset(paint, 0, sizeof *paint);
  bool erase;
  RECT update;
  Frame frame{};
  bool hasFrame;
  {
    auto lock = waitLock();
    gwes::Window* w = gwes::window(handle);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    frame.insets = gwes::clientInsets(w);
    hasFrame = frame.insets.left || frame.insets.top || frame.insets.right || frame.insets.bottom;
    RECT whole = gwes::screenRect(w);
    frame.window = RECT{0, 0, whole.right - whole.left, whole.bottom - whole.top};
    frame.style = w->style;
    frame.exStyle = w->exStyle;
    frame.title = w->text;
    gwes::Window* top = w;
    while (top->parent) top = gwes::window(top->parent);
    frame.active = top && top->handle == gwes::state().foreground;
    RECT client = gwes::clientScreenRect(w);
    update = w->updatePending ? w->update : RECT{0, 0, 0, 0};
    if (!w->updatePending) update = RECT{0, 0, client.right - client.left, client.bottom - client.top};
    erase = w->erase;
    w->updatePending = false;
    w->erase = false;
  }
  if (hasFrame && erase) drawFrame(handle, frame);
  HDC dc = GetDC(handle);
  if (!dc) return nullptr;
  {
    std::lock_guard<std::recursive_mutex> guard(gdiLock);
    DeviceContext* context = contextOf(dc);
    RECT screenUpdate = update;
    OffsetRect(&screenUpdate, context->origin.x, context->origin.y);
    regionIntersect(context->clip, screenUpdate);
  }
  if (erase) paint->fErase = SendMessageW(handle, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0) == 0;
  paint->hdc = dc;
  paint->rcPaint = update;
  return dc;
}

BOOL EndPaint(HWND handle, const PAINTSTRUCT* paint) {
  if (!paint) return FALSE;
  ReleaseDC(handle, paint->hdc);
  return TRUE;
}

// ---- Objects ---------------------------------------------------------------------------------

HGDIOBJ GetStockObject(int index) {
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  return reinterpret_cast<HGDIOBJ>(stockObject(index));
}

HGDIOBJ SelectObject(HDC handle, HGDIOBJ objectHandle) {
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  DeviceContext* dc = contextOf(handle);
  GdiObject* object = objectOf(objectHandle);
  if (!dc || !object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  GdiObject** slot = object->type == OBJ_FONT ? &dc->font : object->type == OBJ_BRUSH ? &dc->brush
                     : object->type == OBJ_PEN ? &dc->pen : nullptr;
  if (!slot) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  GdiObject* old = *slot;
  if (old) --old->selected;
  *slot = object;
  ++object->selected;
  return reinterpret_cast<HGDIOBJ>(old);
}

BOOL DeleteObject(HGDIOBJ handle) {
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  GdiObject* object = objectOf(handle);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (object->stock) return TRUE;
  if (object->selected > 0) return FALSE;
  objects.erase(object);
  delete object->font;
  delete object;
  return TRUE;
}

DWORD GetObjectType(HGDIOBJ handle) {
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  if (contextOf(reinterpret_cast<HDC>(handle))) return OBJ_DC;
  GdiObject* object = objectOf(handle);
  return object ? object->type : 0;
}

HGDIOBJ GetCurrentObject(HDC handle, UINT type) {
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  DeviceContext* dc = contextOf(handle);
  if (!dc) return nullptr;
  if (type == OBJ_FONT) return reinterpret_cast<HGDIOBJ>(dc->font);
  if (type == OBJ_BRUSH) return reinterpret_cast<HGDIOBJ>(dc->brush);
  if (type == OBJ_PEN) return reinterpret_cast<HGDIOBJ>(dc->pen);
  return nullptr;
}

HBRUSH CreateSolidBrush(COLORREF colour) {
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  GdiObject* brush = newObject(OBJ_BRUSH);
  brush->colour = colour & 0xFFFFFF;
  return reinterpret_cast<HBRUSH>(brush);
}

HPEN CreatePen(int style, int penWidth, COLORREF colour) {
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  GdiObject* pen = newObject(OBJ_PEN);
  pen->penStyle = style;
  pen->penWidth = std::max(1, penWidth);
  pen->colour = colour & 0xFFFFFF;
  return reinterpret_cast<HPEN>(pen);
}

HFONT CreateFontIndirectW(const LOGFONTW* logical) {
  readEnvironmentScreen();
  if (!logical || logical->lfHeight > 2000 || logical->lfHeight < -2000) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  FontData* data = makeFont(*logical);
  if (!data) return nullptr;
  GdiObject* font = newObject(OBJ_FONT);
  font->font = data;
  return reinterpret_cast<HFONT>(font);
}

int GetObjectW(HGDIOBJ handle, int size, LPVOID buffer) {
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  GdiObject* object = objectOf(handle);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (object->type == OBJ_FONT) {
    if (!buffer) return sizeof(LOGFONTW);
    int n = std::min<int>(size, sizeof(LOGFONTW));
    std::memcpy(buffer, &object->font->logical, n);
    return n;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return 0;
}

BOOL GetTextMetricsW(HDC handle, LPTEXTMETRICW metrics) {
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  DeviceContext* dc = contextOf(handle);
  FontData* font = dc ? currentFont(dc) : nullptr;
  if (!font || !metrics) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *metrics = font->metrics;
  return TRUE;
}

BOOL GetTextExtentPoint32W(HDC handle, LPCWSTR text, int length, LPSIZE size) {
  return GetTextExtentExPointW(handle, text, length, 0, nullptr, nullptr, size);
}

BOOL GetTextExtentExPointW(HDC handle, LPCWSTR text, int length, int maxExtent, LPINT fit, LPINT dx,
                           LPSIZE size) {
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  DeviceContext* dc = contextOf(handle);
  FontData* font = dc ? currentFont(dc) : nullptr;
  if (!font) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!size || length < 0 || (length > 0 && !text)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  int total = 0, fitting = 0;
  for (int i = 0; i < length; ++i) {
    total += advanceOf(font, text[i]);
    if (dx) dx[i] = total;
    if (total <= maxExtent) fitting = i + 1;
  }
  if (fit) *fit = fitting;
  size->cx = total;
  size->cy = font->metrics.tmHeight;
  return TRUE;
}

int GetTextFaceW(HDC handle, int size, LPWSTR name) {
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  DeviceContext* dc = contextOf(handle);
  FontData* font = dc ? currentFont(dc) : nullptr;
  if (!font) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (!name) return static_cast<int>(font->faceName.size()) + 1;
  if (size <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  int n = std::min<int>(size - 1, static_cast<int>(font->faceName.size()));
  std::memcpy(name, font->faceName.data(), n * sizeof(WCHAR));
  name[n] = 0;
  return n;
}

// ---- Drawing -----------------------------------------------------------------------------------

#define DC_FIELD(getter, setter, type, field)                  \
  type setter(HDC handle, type value) {                        \
    std::lock_guard<std::recursive_mutex> guard(gdiLock);      \
    DeviceContext* dc = contextOf(handle);                     \
    if (!dc) return static_cast<type>(CLR_INVALID);            \
    type old = dc->field;                                      \
    dc->field = value;                                         \
    return old;                                                \
  }                                                            \
  type getter(HDC handle) {                                    \
    std::lock_guard<std::recursive_mutex> guard(gdiLock);      \
    DeviceContext* dc = contextOf(handle);                     \
    return dc ? dc->field : static_cast<type>(CLR_INVALID);    \
  }
DC_FIELD(GetTextColor, SetTextColor, COLORREF, text)
DC_FIELD(GetBkColor, SetBkColor, COLORREF, background)
DC_FIELD(GetBkMode, SetBkMode, int, backgroundMode)
#undef DC_FIELD

int FillRect(HDC handle, const RECT* rect, HBRUSH brushHandle) {
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  DeviceContext* dc = contextOf(handle);
  GdiObject* brush = objectOf(reinterpret_cast<HGDIOBJ>(brushHandle), OBJ_BRUSH);
  if (!dc || !brush || !rect) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (brush->colour != CLR_INVALID) fillArea(dc, *rect, rgbOf(brush->colour));
  return 1;
}

BOOL Rectangle(HDC handle, int left, int top, int right, int bottom) {
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  DeviceContext* dc = contextOf(handle);
  if (!dc) return FALSE;
  if (dc->brush && dc->brush->colour != CLR_INVALID)
    fillArea(dc, RECT{left + 1, top + 1, right - 1, bottom - 1}, rgbOf(dc->brush->colour));
  if (dc->pen && dc->pen->penStyle != PS_NULL) {
    uint32_t c = rgbOf(dc->pen->colour);
    fillArea(dc, RECT{left, top, right, top + 1}, c);
    fillArea(dc, RECT{left, bottom - 1, right, bottom}, c);
    fillArea(dc, RECT{left, top, left + 1, bottom}, c);
    fillArea(dc, RECT{right - 1, top, right, bottom}, c);
  }
  return TRUE;
}

COLORREF SetPixel(HDC handle, int x, int y, COLORREF colour) {
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  DeviceContext* dc = contextOf(handle);
  if (!dc) return CLR_INVALID;
  putPixel(dc, x, y, rgbOf(colour));
  return colourOf(quantize(rgbOf(colour)));
}

COLORREF GetPixel(HDC handle, int x, int y) {
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  DeviceContext* dc = contextOf(handle);
  if (!dc || dc->memory) return CLR_INVALID;
  POINT p{x + dc->origin.x, y + dc->origin.y};
  if (!regionContains(dc->clip, p) || p.x >= width || p.y >= height) return CLR_INVALID;
  ensureScreen();
  return colourOf(pixels[static_cast<size_t>(p.y) * width + p.x]);
}

BOOL MoveToEx(HDC handle, int x, int y, LPPOINT previous) {
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  DeviceContext* dc = contextOf(handle);
  if (!dc) return FALSE;
  if (previous) *previous = dc->position;
  dc->position = {x, y};
  return TRUE;
}

BOOL LineTo(HDC handle, int x, int y) {
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  DeviceContext* dc = contextOf(handle);
  if (!dc) return FALSE;
  if (dc->pen && dc->pen->penStyle != PS_NULL) {
    // Bresenham, the end point excluded.
    int x0 = dc->position.x, y0 = dc->position.y;
    int dx = std::abs(x - x0), sx = x0 < x ? 1 : -1, dy = -std::abs(y - y0), sy = y0 < y ? 1 : -1;
    int error = dx + dy;
    while (x0 != x || y0 != y) {
      putPixel(dc, x0, y0, rgbOf(dc->pen->colour));
      int e2 = 2 * error;
      if (e2 >= dy) {
        error += dy;
        x0 += sx;
      }
      if (e2 <= dx) {
        error += dx;
        y0 += sy;
      }
    }
  }
  dc->position = {x, y};
  return TRUE;
}

BOOL ExtTextOutW(HDC handle, int x, int y, UINT options, const RECT* rect, LPCWSTR text, UINT length,
                 const INT*) {
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  DeviceContext* dc = contextOf(handle);
  FontData* font = dc ? currentFont(dc) : nullptr;
  if (!font) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  Region savedClip = dc->clip;
  if (rect && (options & ETO_OPAQUE)) fillArea(dc, *rect, rgbOf(dc->background));
  if (rect && (options & ETO_CLIPPED)) {
    RECT screen = *rect;
    OffsetRect(&screen, dc->origin.x, dc->origin.y);
    regionIntersect(dc->clip, screen);
  }
  if (text && length) {
    if (dc->backgroundMode == OPAQUE && !(options & ETO_OPAQUE)) {
      fillArea(dc, RECT{x, y, x + textWidth(font, text, static_cast<int>(length)), y + font->metrics.tmHeight},
               rgbOf(dc->background));
    }
    drawText(dc, x, y, text, static_cast<int>(length));
  }
  dc->clip = savedClip;
  return TRUE;
}

int DrawTextW(HDC handle, LPCWSTR text, int length, LPRECT rect, UINT format) {
  if (!text || !rect) return 0;
  if (length < 0) length = static_cast<int>(std::char_traits<char16_t>::length(text));
  std::lock_guard<std::recursive_mutex> guard(gdiLock);
  DeviceContext* dc = contextOf(handle);
  FontData* font = dc ? currentFont(dc) : nullptr;
  if (!font) return 0;
  std::vector<std::pair<int, int>> lines;  // start, length
  if (format & DT_SINGLELINE) {
    lines.push_back({0, length});
  } else {
    int start = 0;
    for (int i = 0; i <= length; ++i) {
      if (i == length || text[i] == u'\n') {
        int end = i > start && text[i - 1] == u'\r' ? i - 1 : i;
        lines.push_back({start, end - start});
        start = i + 1;
      }
    }
  }
  int lineHeight = font->metrics.tmHeight;
  int total = lineHeight * static_cast<int>(lines.size());
  if (format & DT_CALCRECT) {
    int widest = 0;
    for (auto& line : lines) widest = std::max(widest, textWidth(font, text + line.first, line.second));
    rect->right = rect->left + widest;
    rect->bottom = rect->top + total;
    return total;
  }
  int y = rect->top;
  if (format & DT_SINGLELINE) {
    if (format & DT_VCENTER) y = rect->top + (rect->bottom - rect->top - lineHeight) / 2;
    else if (format & DT_BOTTOM) y = rect->bottom - lineHeight;
  }
  Region savedClip = dc->clip;
  if (!(format & DT_NOCLIP)) {
    RECT screen = *rect;
    OffsetRect(&screen, dc->origin.x, dc->origin.y);
    regionIntersect(dc->clip, screen);
  }
  for (auto& line : lines) {
    int w = textWidth(font, text + line.first, line.second);
    int x = rect->left;
    if (format & DT_CENTER) x = rect->left + (rect->right - rect->left - w) / 2;
    else if (format & DT_RIGHT) x = rect->right - w;
    if (dc->backgroundMode == OPAQUE) fillArea(dc, RECT{x, y, x + w, y + lineHeight}, rgbOf(dc->background));
    drawText(dc, x, y, text + line.first, line.second);
    y += lineHeight;
  }
  dc->clip = savedClip;
  return total;
}

// ---- Rectangles ---------------------------------------------------------------------------------

BOOL SetRect(LPRECT r, int left, int top, int right, int bottom) {
  if (!r) return FALSE;
  *r = RECT{left, top, right, bottom};
  return TRUE;
}
BOOL SetRectEmpty(LPRECT r) { return SetRect(r, 0, 0, 0, 0); }
BOOL IsRectEmpty(const RECT* r) { return !r || r->right <= r->left || r->bottom <= r->top; }
BOOL PtInRect(const RECT* r, POINT p) {
  return r && p.x >= r->left && p.x < r->right && p.y >= r->top && p.y < r->bottom;
}
BOOL OffsetRect(LPRECT r, int dx, int dy) {
  if (!r) return FALSE;
  r->left += dx;
  r->right += dx;
  r->top += dy;
  r->bottom += dy;
  return TRUE;
}
BOOL InflateRect(LPRECT r, int dx, int dy) {
  if (!r) return FALSE;
  r->left -= dx;
  r->right += dx;
  r->top -= dy;
  r->bottom += dy;
  return TRUE;
}
BOOL IntersectRect(LPRECT out, const RECT* a, const RECT* b) {
  RECT r{std::max(a->left, b->left), std::max(a->top, b->top), std::min(a->right, b->right),
         std::min(a->bottom, b->bottom)};
  if (IsRectEmpty(&r)) {
    SetRectEmpty(out);
    return FALSE;
  }
  *out = r;
  return TRUE;
}
BOOL UnionRect(LPRECT out, const RECT* a, const RECT* b) {
  if (IsRectEmpty(a)) {
    *out = *b;
  } else if (IsRectEmpty(b)) {
    *out = *a;
  } else {
    *out = RECT{std::min(a->left, b->left), std::min(a->top, b->top), std::max(a->right, b->right),
                std::max(a->bottom, b->bottom)};
  }
  return !IsRectEmpty(out);
}
BOOL EqualRect(const RECT* a, const RECT* b) {
  return a->left == b->left && a->top == b->top && a->right == b->right && a->bottom == b->bottom;
}
