package com.q7vk.mobile.launcher.demo;

import com.zel.hvl.r7tx.CallbackPeer;
import com.zel.hvl.r7tx.OS;
import java.io.File;
import java.io.PrintStream;

/**
 * The widget toolkit on the simulated handheld: a display with its event loop, system colours,
 * fonts measured from real font files, injected input, and a picture of the screen.
 */
public final class WidgetsDemo {
  private WidgetsDemo() {}

  private static native void fillRect(int colour, int x, int y, int width, int height);
  private static native void drawText(int font, int colour, int x, int y, String text);
  private static native boolean saveScreen(String hostPath);

  public static void run(PrintStream out) throws Exception {
    System.loadLibrary("uxappro11");
    System.loadLibrary("uxappro11_demo");
    OS.hvlErrorHandler = (name, code, message) -> out.println("  toolkit error in " + name + ": " + code + " " + message);

    int display = OS.Display_New();
    OS.Display_InitCallbacks(display, new Object());
    CallbackPeer.registerAll(display);
    int[] insets = com.zel.hvl.eswt.OS.Display_GetInsets(display);
    out.println("Display created; task bar strip at the top: " + insets[1] + " pixels");
    out.println("Platform capability 4 = " + com.zel.hvl.eswt.OS.Platform_GetCapability(4));

    int window = com.zel.hvl.eswt.OS.Display_GetSystemColor(display, 7);
    int highlight = com.zel.hvl.eswt.OS.Display_GetSystemColor(display, 14);
    int highlightText = com.zel.hvl.eswt.OS.Display_GetSystemColor(display, 15);
    int text = com.zel.hvl.eswt.OS.Display_GetSystemColor(display, 9);
    int accent = OS.Color_New(display, 0, 128, 64);
    out.println("System colours: window " + rgb(window) + ", highlight " + rgb(highlight));

    int body = OS.Font_New(display, "Tahoma", 10, 0);
    int title = OS.Font_New(display, "Tahoma", 14, 2);
    int mono = OS.Font_New(display, "fixed", 9, 0);
    int serif = com.zel.hvl.eswt.OS.Font_NewLogical(display, 3, 11, 4);
    for (int font : new int[] {body, title, mono, serif}) {
      out.println("Font " + com.zel.hvl.eswt.OS.Font_GetName(font) + " " + OS.Font_GetSizeInPoints(font)
          + "pt style " + com.zel.hvl.eswt.OS.Font_GetStyle(font) + ": ascent " + OS.Font_GetAscent(font)
          + ", descent " + OS.Font_GetDescent(font) + ", \"VORK@MOBILE\" is "
          + com.zel.hvl.eswt.OS.Font_StringAdvance(font, "VORK@MOBILE") + " pixels wide");
    }
    OS.Color_New(display, 300, 0, 0);  // refused: shows the error path

    // A screen drawn with the toolkit's colours and fonts.
    fillRect(window, 0, insets[1], 240, 320 - insets[1]);
    fillRect(highlight, 0, insets[1], 240, 30);
    drawText(title, highlightText, 8, insets[1] + 6, "VORK@MOBILE");
    drawText(body, text, 8, insets[1] + 44, "Meter 0042: 1234.5 kWh");
    drawText(serif, accent, 8, insets[1] + 66, "Read over Bluetooth");
    drawText(mono, text, 8, insets[1] + 90, "0123456789 iiiii WWWWW");

    // The event loop: input injected into the device, a wake-up from another thread.
    com.zel.hvl.eswt.OS.Display_PostKeyEvent(display, 1, 'a', 'a');
    com.zel.hvl.eswt.OS.Display_PostKeyEvent(display, 2, 'a', 'a');
    com.zel.hvl.eswt.OS.Display_PostPointerMoveEvent(display, 120, 160);
    Thread waker = new Thread(() -> OS.Display_Wake(display));
    waker.start();
    OS.Display_Sleep(display);
    waker.join();
    int handled = 0;
    while (OS.Display_ReadAndDispatch(display)) handled++;
    out.println("Event loop woke and handled " + handled + " message(s)");

    String root = System.getenv().getOrDefault("VORK_DEVICE_ROOT", "/tmp/vork-device");
    File png = new File(root, "widgets-demo.png");
    out.println(saveScreen(png.getPath()) ? "Screen saved to " + png : "Could not save the screen");

    for (int font : new int[] {body, title, mono, serif}) OS.Font_Dispose(font);
    for (int colour : new int[] {window, highlight, highlightText, text, accent}) OS.Color_Dispose(colour);
    OS.Device_Dispose(display);
    OS.hvlErrorHandler = null;
  }

  private static String rgb(int colour) {
    return String.format("#%02X%02X%02X", com.zel.hvl.eswt.OS.Color_GetRed(colour),
        com.zel.hvl.eswt.OS.Color_GetGreen(colour), com.zel.hvl.eswt.OS.Color_GetBlue(colour));
  }
}
