package com.zel.hvl.eswt;

/** The extended set of the toolkit's natives. */
public final class OS {
  static {
    System.loadLibrary("uxappro11");
  }

  private OS() {}

  // Display
  public static native void Display_Beep(int display);
  public static native int Display_GetSystemColor(int display, int id);
  public static native int[] Display_GetInsets(int display);
  public static native boolean Display_PostKeyEvent(int display, int kind, int keyCode, char character);
  public static native boolean Display_PostPointerEvent(int display, int kind, int button);
  public static native boolean Display_PostPointerMoveEvent(int display, int x, int y);
  public static native void Display_ClearFocus(int display);
  public static native void Display_SetFullScreenShell(int display, int shell);
  public static native int Platform_GetCapability(int id);

  // Colours
  public static native int Color_GetRed(int color);
  public static native int Color_GetGreen(int color);
  public static native int Color_GetBlue(int color);

  // Fonts
  public static native int Font_NewLogical(int device, int family, int size, int style);
  public static native int Font_StringAdvance(int font, String text);
  public static native String Font_GetName(int font);
  public static native int Font_GetStyle(int font);
}
