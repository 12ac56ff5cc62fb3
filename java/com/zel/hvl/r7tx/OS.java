package com.zel.hvl.r7tx;

import com.zel.hvl.HVLErrorHandler;

/** The basic set of the toolkit's natives. */
public final class OS {
  static {
    System.loadLibrary("uxappro11");
  }

  /** Where failures of every native go; a failure while this is null ends the VM. */
  public static HVLErrorHandler hvlErrorHandler;

  private OS() {}

  // Display and event loop
  public static native int Display_New();
  public static native void Display_InitCallbacks(int display, Object callbacks);
  public static native void Display_RegisterCallback(int display, int id, String className, String methodName);
  public static native boolean Display_ReadAndDispatch(int display);
  public static native void Display_Sleep(int display);
  public static native void Display_Wake(int display);

  // Widgets and devices
  public static native void Widget_SetData(int widget, Object data);
  public static native void Widget_Dispose(int widget);
  public static native void Device_Dispose(int device);

  // Colours
  public static native int Color_New(int device, int red, int green, int blue);
  public static native void Color_Dispose(int color);

  // Fonts
  public static native int Font_New(int device, String name, int size, int style);
  public static native void Font_Dispose(int font);
  public static native int Font_GetAdvanceWidth(int font, char c);
  public static native int Font_GetAscent(int font);
  public static native int Font_GetDescent(int font);
  public static native int Font_GetLeading(int font);
  public static native int Font_GetSizeInPoints(int font);
}
