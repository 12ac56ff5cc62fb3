package com.zel.hvl.test;

import com.zel.hvl.HVLErrorHandler;
import com.zel.hvl.r7tx.OS;

/** Runs in a child VM: provokes one of the toolkit's fatal errors. */
public final class FatalMain {
  public static void main(String[] args) {
    switch (args[0]) {
      case "no-handler":
        OS.hvlErrorHandler = null;
        OS.Color_New(0, 300, 0, 0);
        break;
      case "duplicate": {
        OS.hvlErrorHandler = (name, code, message) -> {};
        int display = OS.Display_New();
        OS.Display_InitCallbacks(display, new Object());
        OS.Display_RegisterCallback(display, 3, "com/zel/hvl/r7tx/CallbackPeer", "scrolled");
        OS.Display_RegisterCallback(display, 23, "com/zel/hvl/r7tx/CallbackPeer", "scrolled");
        OS.Display_RegisterCallback(display, 3, "com/zel/hvl/r7tx/CallbackPeer", "scrolled");
        break;
      }
      case "no-registry": {
        OS.hvlErrorHandler = (name, code, message) -> {};
        int display = OS.Display_New();
        OS.Display_RegisterCallback(display, 1, "com/zel/hvl/r7tx/CallbackPeer", "listSelection");
        break;
      }
      default:
        break;
    }
    System.out.println("still running");
  }
}
