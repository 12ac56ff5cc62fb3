package com.zel.hvl.r7tx;

/**
 * A widget's Java peer: one method per event callback. Subclasses override what they handle;
 * {@link #registerAll} registers every callback id of a display with these methods.
 */
public class CallbackPeer {
  public static final int BUTTON_CLICK = 0;
  public static final int LIST_SELECTION = 1;
  public static final int WINDOW_EVENT = 2;
  public static final int SCROLL = 3;
  public static final int COMBO_SELECTION = 4;
  public static final int KEY = 5;
  public static final int TEXT_CHANGED = 6;
  public static final int POINTER = 7;
  public static final int MENU_ITEM = 8;
  public static final int FOCUS = 9;
  public static final int PAINT = 10;
  public static final int SHELL_RESIZED = 11;
  public static final int SHELL_MOVED = 12;
  public static final int WHEEL = 17;
  public static final int POINTER_PRESSED = 1458260670;

  private static final String CLASS = "com/zel/hvl/r7tx/CallbackPeer";

  public static void registerAll(int display) {
    OS.Display_RegisterCallback(display, BUTTON_CLICK, CLASS, "buttonClicked");
    OS.Display_RegisterCallback(display, LIST_SELECTION, CLASS, "listSelection");
    OS.Display_RegisterCallback(display, WINDOW_EVENT, CLASS, "windowEvent");
    OS.Display_RegisterCallback(display, SCROLL, CLASS, "scrolled");
    OS.Display_RegisterCallback(display, COMBO_SELECTION, CLASS, "comboSelection");
    OS.Display_RegisterCallback(display, KEY, CLASS, "keyEvent");
    OS.Display_RegisterCallback(display, TEXT_CHANGED, CLASS, "textChanged");
    OS.Display_RegisterCallback(display, POINTER, CLASS, "pointerEvent");
    OS.Display_RegisterCallback(display, MENU_ITEM, CLASS, "menuItemChosen");
    OS.Display_RegisterCallback(display, FOCUS, CLASS, "focusEvent");
    OS.Display_RegisterCallback(display, PAINT, CLASS, "paint");
    OS.Display_RegisterCallback(display, SHELL_RESIZED, CLASS, "shellResized");
    OS.Display_RegisterCallback(display, SHELL_MOVED, CLASS, "shellMoved");
    OS.Display_RegisterCallback(display, WHEEL, CLASS, "wheelEvent");
    OS.Display_RegisterCallback(display, POINTER_PRESSED, CLASS, "pointerPressed");
  }

  public void buttonClicked() {}
  public void listSelection(int index, int kind) {}
  public void windowEvent(int event) {}
  public void scrolled(int value, int kind) {}
  public void comboSelection(int index) {}
  public boolean keyEvent(int kind, char character, int keyCode, int modifiers) { return false; }
  public void textChanged() {}
  public void pointerEvent(int kind, int x, int y, int button, int modifiers) {}
  public void menuItemChosen(int unused) {}
  public void focusEvent(int kind) {}
  public void paint(int x, int y, int width, int height) {}
  public void shellResized(int width, int height) {}
  public void shellMoved(int x, int y) {}
  public void wheelEvent(int kind, int x, int y, int modifiers, int lines, int notches) {}
  public int pointerPressed(int x, int y) { return 0; }
}
