// Colours and fonts: the records, their natives and the logical-font filling shared with the
// display's default font.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../frame/hvl.h"

namespace {

Font* makeFontRecord(HFONT handle, ErrorState* error) {
  auto* font = static_cast<Font*>(hvlAllocate(sizeof(Font)));
  if (!font) {
    Win32Error_SetError(error, HVL_ERROR_NO_MEMORY, u"Not enough memory to allocate font");
    return nullptr;
  }
  font->font = handle;
  HDC dc = GetDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, handle);
  GetTextMetricsW(dc, &font->metrics);
  SelectObject(dc, previous);
  ReleaseDC(nullptr, dc);
  return font;
}

Font* newFont(LOGFONTW& logical, jint size, jint style, ErrorState* error) {
  _Font_FillInFont(&logical, size, style);
  HFONT handle = CreateFontIndirectW(&logical);
  if (!handle) {
    Win32Error_SetError(error, static_cast<jint>(GetLastError()), u"Unable to createfont");
    return nullptr;
  }
  Font* font = makeFontRecord(handle, error);
  if (!font) DeleteObject(handle);
  return font;
}

}  // namespace

Color* hvlColorNew(jint red, jint green, jint blue, ErrorState* error) {
  if (red < 0 || red > 255 || green < 0 || green > 255 || blue < 0 || blue > 255) {
    Win32Error_SetError(error, HVL_ERROR_FAILED, u"Invalid color component range");
    return nullptr;
  }
  auto* colour = static_cast<Color*>(hvlAllocate(sizeof(Color)));
  if (!colour) {
    Win32Error_SetError(error, HVL_ERROR_NO_MEMORY, u"Not enough memory to allocate color");
    return nullptr;
  }
  colour->colour = static_cast<COLORREF>(red + green * 256 + blue * 65536);
  return colour;
}

Font* hvlFontFromSystemFont(HFONT font, ErrorState* error) { return makeFontRecord(font, error); }

HVL_EXPORT void _Font_FillInFont(LOGFONTW* font, jint size, jint style) {
  HDC dc = GetDC(nullptr);
  int resolution = GetDeviceCaps(dc, LOGPIXELSY);
  font->lfHeight = size * resolution / 72;
  font->lfWeight = (style & 2) ? FW_BOLD : FW_NORMAL;
  font->lfItalic = (style & 4) ? 1 : 0;
  font->lfUnderline = (style & 8) ? 1 : 0;
  font->lfStrikeOut = (style & 16) ? 1 : 0;
  font->lfCharSet = DEFAULT_CHARSET;
  ReleaseDC(nullptr, dc);
}

// ---- Colour natives ------------------------------------------------------------------------------

extern "C" JNIEXPORT jint JNICALL Java_com_zel_hvl_r7tx_OS_Color_1New(JNIEnv* env, jclass, jint, jint red,
                                                                     jint green, jint blue) {
  ErrorState error{};
  Color* colour = hvlColorNew(red, green, blue, &error);
  if (error.code) {
    HVL_ErrorHandler(env, "Color_New", &error);
    return 0;
  }
  return hvlHandle(colour);
}

extern "C" JNIEXPORT void JNICALL Java_com_zel_hvl_r7tx_OS_Color_1Dispose(JNIEnv*, jclass, jint handle) {
  Color* colour = hvlRecord<Color>(handle);
  if (!colour) return;
  if (colour->brush) DeleteObject(colour->brush);
  hvlFree(colour);
}

extern "C" JNIEXPORT jint JNICALL Java_com_zel_hvl_eswt_OS_Color_1GetRed(JNIEnv*, jclass, jint handle) {
  return GetRValue(hvlRecord<Color>(handle)->colour);
}
extern "C" JNIEXPORT jint JNICALL Java_com_zel_hvl_eswt_OS_Color_1GetGreen(JNIEnv*, jclass, jint handle) {
  return GetGValue(hvlRecord<Color>(handle)->colour);
}
extern "C" JNIEXPORT jint JNICALL Java_com_zel_hvl_eswt_OS_Color_1GetBlue(JNIEnv*, jclass, jint handle) {
  return GetBValue(hvlRecord<Color>(handle)->colour);
}

// ---- Font natives ----------------------------------------------------------------------------------

extern "C" JNIEXPORT jint JNICALL Java_com_zel_hvl_r7tx_OS_Font_1New(JNIEnv* env, jclass, jint, jstring name,
                                                                    jint size, jint style) {
  JavaText text;
  javaTextOpen(text, env, name);
  if (text.failed) return 0;
  ErrorState error{};
  LOGFONTW logical{};
  static const char16_t fixed[] = u"fixed";
  bool isFixed = text.text && std::char_traits<char16_t>::length(text.text) == 5;
  for (int i = 0; isFixed && i < 5; ++i) {
    WCHAR c = text.text[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<WCHAR>(c + 32);
    isFixed = c == fixed[i];
  }
  if (isFixed) {
    logical.lfPitchAndFamily = FF_MODERN;
  } else if (text.text) {
    size_t n = std::min<size_t>(LF_FACESIZE - 1, std::char_traits<char16_t>::length(text.text));
    std::memcpy(logical.lfFaceName, text.text, n * sizeof(WCHAR));
  }
  Font* font = newFont(logical, size, style, &error);
  javaTextClose(text);
  if (error.code) {
    HVL_ErrorHandler(env, "Font_New", &error);
    return 0;
  }
  return hvlHandle(font);
}

extern "C" JNIEXPORT jint JNICALL Java_com_zel_hvl_eswt_OS_Font_1NewLogical(JNIEnv* env, jclass, jint, jint family,
                                                                           jint size, jint style) {
  ErrorState error{};
  LOGFONTW logical{};
  logical.lfPitchAndFamily = family == 2 ? FF_SWISS : family == 3 ? FF_ROMAN : family == 4 ? FF_MODERN : 0;
  Font* font = newFont(logical, size, style, &error);
  if (error.code) {
    HVL_ErrorHandler(env, "Font_NewLogical", &error);
    return 0;
  }
  return hvlHandle(font);
}

extern "C" JNIEXPORT void JNICALL Java_com_zel_hvl_r7tx_OS_Font_1Dispose(JNIEnv*, jclass, jint handle) {
  Font* font = hvlRecord<Font>(handle);
  if (!font) return;
  DeleteObject(font->font);
  hvlFree(font);
}

extern "C" JNIEXPORT jint JNICALL Java_com_zel_hvl_r7tx_OS_Font_1GetAdvanceWidth(JNIEnv*, jclass, jint handle,
                                                                                jchar character) {
  Font* font = hvlRecord<Font>(handle);
  HDC dc = GetDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, font->font);
  SIZE extent{0, 0};
  WCHAR text[1] = {character};
  GetTextExtentPoint32W(dc, text, 1, &extent);
  SelectObject(dc, previous);
  ReleaseDC(nullptr, dc);
  return extent.cx;
}

extern "C" JNIEXPORT jint JNICALL Java_com_zel_hvl_eswt_OS_Font_1StringAdvance(JNIEnv* env, jclass, jint handle,
                                                                              jstring string) {
  JavaText text;
  javaTextOpen(text, env, string);
  if (text.failed) return 0;
  ErrorState error{};
  jint width = 0;
  if (text.text) {
    Font* font = hvlRecord<Font>(handle);
    HDC dc = GetDC(nullptr);
    if (!dc) {
      Win32Error_SetError(&error, static_cast<jint>(GetLastError()), u"Failed to get screen DC");
    } else {
      HGDIOBJ previous = SelectObject(dc, font->font);
      if (!previous) {
        Win32Error_SetError(&error, HVL_ERROR_FAILED, u"Failed to select font");
      } else {
        SIZE extent;
        int length = static_cast<int>(std::char_traits<char16_t>::length(text.text));
        if (!GetTextExtentPoint32W(dc, text.text, length, &extent)) {
          Win32Error_SetError(&error, static_cast<jint>(GetLastError()), u"Failed to calculate text extent");
        } else {
          width = extent.cx;
        }
        SelectObject(dc, previous);
      }
      ReleaseDC(nullptr, dc);
    }
  }
  javaTextClose(text);
  if (error.code) {
    HVL_ErrorHandler(env, "Font_StringAdvance", &error);
    return 0;
  }
  return width;
}

extern "C" JNIEXPORT jint JNICALL Java_com_zel_hvl_r7tx_OS_Font_1GetAscent(JNIEnv*, jclass, jint handle) {
  Font* font = hvlRecord<Font>(handle);
  return font->metrics.tmAscent - font->metrics.tmInternalLeading;
}

extern "C" JNIEXPORT jint JNICALL Java_com_zel_hvl_r7tx_OS_Font_1GetDescent(JNIEnv*, jclass, jint handle) {
  return hvlRecord<Font>(handle)->metrics.tmDescent;
}

extern "C" JNIEXPORT jint JNICALL Java_com_zel_hvl_r7tx_OS_Font_1GetLeading(JNIEnv*, jclass, jint handle) {
  return hvlRecord<Font>(handle)->metrics.tmInternalLeading;
}

extern "C" JNIEXPORT jint JNICALL Java_com_zel_hvl_r7tx_OS_Font_1GetSizeInPoints(JNIEnv* env, jclass, jint handle) {
  ErrorState error{};
  HDC dc = GetDC(nullptr);
  if (!dc) {
    Win32Error_SetError(&error, static_cast<jint>(GetLastError()), u"Unable to get screen dc");
    HVL_ErrorHandler(env, "Font_GetSizeInPoints", &error);
    return 0;
  }
  jint size = hvlRecord<Font>(handle)->metrics.tmHeight * 72 / GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return size;
}

extern "C" JNIEXPORT jstring JNICALL Java_com_zel_hvl_eswt_OS_Font_1GetName(JNIEnv* env, jclass, jint handle) {
  ErrorState error{};
  Font* font = hvlRecord<Font>(handle);
  WCHAR* name = nullptr;
  HDC dc = GetDC(nullptr);
  if (!dc) {
    Win32Error_SetError(&error, static_cast<jint>(GetLastError()), u"Unable to get screen dc");
  } else {
    HGDIOBJ previous = SelectObject(dc, font->font);
    int length = GetTextFaceW(dc, 0, nullptr);
    if (length == 0) {
      Win32Error_SetError(&error, static_cast<jint>(GetLastError()), u"Unable to get font face length");
    } else if (!(name = static_cast<WCHAR*>(std::malloc(static_cast<size_t>(length) * sizeof(WCHAR))))) {
      Win32Error_SetError(&error, HVL_ERROR_NO_MEMORY, u"Not enough memory to store font face name");
    } else if (GetTextFaceW(dc, length, name) == 0 && length > 1) {
      Win32Error_SetError(&error, static_cast<jint>(GetLastError()), u"Unable to copy font face name into buffer");
      std::free(name);
      name = nullptr;
    }
    SelectObject(dc, previous);
    ReleaseDC(nullptr, dc);
  }
  if (error.code) {
    HVL_ErrorHandler(env, "Font_GetName", &error);
    return nullptr;
  }
  jstring result = convertToJavaString(env, name);
  std::free(name);
  return result;
}

extern "C" JNIEXPORT jint JNICALL Java_com_zel_hvl_eswt_OS_Font_1GetStyle(JNIEnv*, jclass, jint handle) {
  const TEXTMETRICW& metrics = hvlRecord<Font>(handle)->metrics;
  jint style = 0;
  if (metrics.tmWeight == FW_BOLD) style |= 2;
  if (metrics.tmItalic) style |= 4;
  if (metrics.tmUnderlined) style |= 8;
  if (metrics.tmStruckOut) style |= 16;
  return style;
}
