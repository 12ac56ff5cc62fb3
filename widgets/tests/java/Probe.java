package com.zel.hvl.test;

/** Test access to the frame's C-level functions and to the simulated device. */
final class Probe {
  static {
    System.loadLibrary("uxappro11");
    System.loadLibrary("uxappro11_probe");
  }

  private Probe() {}

  static native int reportError(String nativeName, int code, String text);
  static native int newWidget(int display);
  static native void freeWidget(int widget);
  static native void raise(int widget, int id, int a, int b);
  static native boolean raiseKey(int widget, char character);
  static native int raisePointerPressed(int widget, int x, int y);
  static native boolean raiseKeyOnNativeThread(int widget, char character);
  static native String takeInputLog();
  static native int colourReference(int colour);
  static native int fontHeight(int font);
  static native int fontPitchAndFamily(int font);
  static native void startSender(int display, int message);
  static native boolean finishSender();
  static native String[] stringArray(String joined);
  static native int[] rect(int x, int y, int width, int height);
  static native int[] point(int x, int y);
  static native int setScreen(int width, int height, int bits, int dpi);
}
