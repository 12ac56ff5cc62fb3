package com.zel.hvl.test;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.zel.hvl.eswt.OS;
import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

class FontsColoursTest {
  private final Recorder recorder = new Recorder();

  @BeforeEach
  void setUp() {
    com.zel.hvl.r7tx.OS.hvlErrorHandler = recorder;
    Probe.setScreen(240, 320, 16, 96);
  }

  @AfterEach
  void tearDown() {
    com.zel.hvl.r7tx.OS.hvlErrorHandler = null;
  }

  @Test
  void coloursKeepTheirComponents() {
    int red = com.zel.hvl.r7tx.OS.Color_New(0, 255, 0, 0);
    assertEquals(0x0000FF, Probe.colourReference(red));
    assertEquals(255, OS.Color_GetRed(red));
    int mixed = com.zel.hvl.r7tx.OS.Color_New(0, 1, 2, 3);
    assertEquals(0x030201, Probe.colourReference(mixed));
    assertEquals(List.of(1, 2, 3), List.of(OS.Color_GetRed(mixed), OS.Color_GetGreen(mixed), OS.Color_GetBlue(mixed)));
    com.zel.hvl.r7tx.OS.Color_Dispose(red);
    com.zel.hvl.r7tx.OS.Color_Dispose(mixed);
    assertEquals(List.of(), recorder.calls);
  }

  @ParameterizedTest
  @CsvSource({"256, 0, 0", "0, 256, 0", "0, 0, 256", "-1, 0, 0"})
  void componentsOutsideAByteAreRefused(int red, int green, int blue) {
    assertEquals(0, com.zel.hvl.r7tx.OS.Color_New(0, red, green, blue));
    assertEquals(List.of("Color_New|-3|Invalid color component range"), recorder.calls);
  }

  @Test
  void aTenPointFontOnNinetySixDotsIsThirteenPixelsHigh() {
    int font = com.zel.hvl.r7tx.OS.Font_New(0, "Tahoma", 10, 0);
    assertEquals(13, Probe.fontHeight(font));
    assertEquals(9, com.zel.hvl.r7tx.OS.Font_GetSizeInPoints(font));  // 13 * 72 / 96, truncated
    int ascent = com.zel.hvl.r7tx.OS.Font_GetAscent(font);
    int descent = com.zel.hvl.r7tx.OS.Font_GetDescent(font);
    int leading = com.zel.hvl.r7tx.OS.Font_GetLeading(font);
    assertEquals(13, ascent + descent + leading);
    assertTrue(ascent > descent && descent > 0 && leading >= 0);
    assertEquals("Tahoma", OS.Font_GetName(font));
    assertEquals(0, OS.Font_GetStyle(font));
    assertTrue(com.zel.hvl.r7tx.OS.Font_GetAdvanceWidth(font, 'W') > com.zel.hvl.r7tx.OS.Font_GetAdvanceWidth(font, 'i'));
    com.zel.hvl.r7tx.OS.Font_Dispose(font);
    assertEquals(List.of(), recorder.calls);
  }

  @Test
  void stylesSurviveTheRoundTrip() {
    int font = com.zel.hvl.r7tx.OS.Font_New(0, "Tahoma", 8, 2 | 8);
    assertEquals(10, OS.Font_GetStyle(font));
    int all = com.zel.hvl.r7tx.OS.Font_New(0, "Tahoma", 8, 2 | 4 | 8 | 16);
    assertEquals(30, OS.Font_GetStyle(all));
    com.zel.hvl.r7tx.OS.Font_Dispose(font);
    com.zel.hvl.r7tx.OS.Font_Dispose(all);
  }

  @ParameterizedTest(name = "{0}")
  @CsvSource({"fixed, 48, Courier New", "FIXED, 48, Courier New", "Courier New, 48, Courier New",
              "Times New Roman, 16, Times New Roman", "Helvetica, 32, Helvetica"})
  void namedFontsPickTheirFamily(String name, int family, String face) {
    int font = com.zel.hvl.r7tx.OS.Font_New(0, name, 9, 0);
    assertEquals(family, Probe.fontPitchAndFamily(font) & 0xF0);
    assertEquals(face, OS.Font_GetName(font));
    com.zel.hvl.r7tx.OS.Font_Dispose(font);
  }

  @Test
  void aFontTheDeviceCannotMakeIsReported() {
    assertEquals(0, com.zel.hvl.r7tx.OS.Font_New(0, "Tahoma", 100000, 0));
    assertEquals(List.of("Font_New|-3|Unable to createfont::The parameter is incorrect.\r\n"), recorder.calls);
  }

  @Test
  void anAbsentNameGivesTheDefaultFace() {
    int font = com.zel.hvl.r7tx.OS.Font_New(0, null, 8, 0);
    assertEquals("Tahoma", OS.Font_GetName(font));
    assertEquals(10, Probe.fontHeight(font));
    com.zel.hvl.r7tx.OS.Font_Dispose(font);
    assertEquals(List.of(), recorder.calls);
  }

  @ParameterizedTest(name = "family {0}")
  @CsvSource({"2, 32, Tahoma", "3, 16, Times New Roman", "4, 48, Courier New", "7, 32, Tahoma"})
  void logicalFontsPickTheirFamily(int family, int bits, String face) {
    int font = OS.Font_NewLogical(0, family, 12, 0);
    assertEquals(bits, Probe.fontPitchAndFamily(font) & 0xF0);
    assertEquals(face, OS.Font_GetName(font));
    assertEquals(16, Probe.fontHeight(font));
    com.zel.hvl.r7tx.OS.Font_Dispose(font);
  }

  @Test
  void stringsAreMeasuredWithTheFont() {
    int font = com.zel.hvl.r7tx.OS.Font_New(0, "Tahoma", 10, 0);
    int mono = com.zel.hvl.r7tx.OS.Font_New(0, "fixed", 10, 0);
    assertEquals(0, OS.Font_StringAdvance(font, null));
    assertEquals(0, OS.Font_StringAdvance(font, ""));
    assertTrue(OS.Font_StringAdvance(font, "WWW") > OS.Font_StringAdvance(font, "iii"));
    assertEquals(OS.Font_StringAdvance(mono, "WWW"), OS.Font_StringAdvance(mono, "iii"));
    int w = com.zel.hvl.r7tx.OS.Font_GetAdvanceWidth(font, 'W');
    assertEquals(3 * w, OS.Font_StringAdvance(font, "WWW"));
    // Characters after a NUL are not measured: the text ends there.
    assertEquals(OS.Font_StringAdvance(font, "ab"), OS.Font_StringAdvance(font, "ab\0cd"));
    com.zel.hvl.r7tx.OS.Font_Dispose(font);
    com.zel.hvl.r7tx.OS.Font_Dispose(mono);
    assertEquals(List.of(), recorder.calls);
  }
}
