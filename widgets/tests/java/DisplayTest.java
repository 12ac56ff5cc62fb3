package com.zel.hvl.test;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.zel.hvl.eswt.OS;
import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

class DisplayTest {
  private final Recorder recorder = new Recorder();
  private int display;

  @BeforeEach
  void setUp() {
    com.zel.hvl.r7tx.OS.hvlErrorHandler = recorder;
    Probe.setScreen(240, 320, 16, 96);
    display = com.zel.hvl.r7tx.OS.Display_New();
    assertNotEquals(0, display);
    Probe.takeInputLog();
  }

  @AfterEach
  void tearDown() {
    while (com.zel.hvl.r7tx.OS.Display_ReadAndDispatch(display)) {}
    com.zel.hvl.r7tx.OS.Device_Dispose(display);
    com.zel.hvl.r7tx.OS.hvlErrorHandler = null;
    assertEquals(List.of(), recorder.calls);
  }

  // The loop runs on the thread that made the display; a hang here ends the run by its timeout.
  @Test
  void anEmptyQueueAnswersFalseWithoutWaiting() {
    while (com.zel.hvl.r7tx.OS.Display_ReadAndDispatch(display)) {}
    assertFalse(com.zel.hvl.r7tx.OS.Display_ReadAndDispatch(display));
  }

  @Test
  void wakeEndsASleepFromAnotherThread() throws Exception {
    Thread waker = new Thread(() -> {
      try {
        Thread.sleep(50);
      } catch (InterruptedException e) {
        return;
      }
      com.zel.hvl.r7tx.OS.Display_Wake(display);
    });
    waker.start();
    com.zel.hvl.r7tx.OS.Display_Sleep(display);
    waker.join();
    assertTrue(com.zel.hvl.r7tx.OS.Display_ReadAndDispatch(display));  // the wake-up message
    assertFalse(com.zel.hvl.r7tx.OS.Display_ReadAndDispatch(display));
  }

  @Test
  void aSendFromAnotherThreadIsHandledWhileTheLoopSleeps() {
    Probe.startSender(display, 0x8020);  // a private message: the message window answers 1
    com.zel.hvl.r7tx.OS.Display_Sleep(display);
    assertFalse(com.zel.hvl.r7tx.OS.Display_ReadAndDispatch(display));  // handled; nothing posted
    assertTrue(Probe.finishSender());
  }

  @Test
  void systemColoursComeFromTheDevice() {
    int window = OS.Display_GetSystemColor(display, 7);
    int textBackground = OS.Display_GetSystemColor(display, 12);
    assertEquals(Probe.colourReference(window), Probe.colourReference(textBackground));
    assertEquals(255, OS.Color_GetRed(window));
    int text = OS.Display_GetSystemColor(display, 13);
    assertEquals(0, Probe.colourReference(text));
    for (int colour : new int[] {window, textBackground, text}) com.zel.hvl.r7tx.OS.Color_Dispose(colour);
  }

  @Test
  void insetsAreTheStripsOutsideTheWorkArea() {
    assertArrayEquals(new int[] {0, 26, 0, 0}, OS.Display_GetInsets(display));
  }

  @Test
  void capabilitiesComeFromTheTable() {
    assertEquals(4158, OS.Platform_GetCapability(4));
    assertEquals(1, OS.Platform_GetCapability(2));
    assertEquals(0, OS.Platform_GetCapability(3));
  }

  @ParameterizedTest(name = "key {1} kind {0} injects {2}")
  @CsvSource({
    "1, 97, key vk=0x41 scan=0 flags=0x1",     // 'a' becomes 'A'
    "2, 122, key vk=0x5A scan=0 flags=0x3",    // release: extended and key-up
    "1, 1013, key vk=0x25 scan=0 flags=0x1",   // left arrow
    "1, 1082, key vk=0xD scan=0 flags=0x1",    // keypad Enter
    "1, 1008, key vk=0x23 scan=0 flags=0x1",   // End: the first row wins
    "1, 48, key vk=0x30 scan=0 flags=0x1",     // a character that is its own key
    "1, 252, key vk=0xDC scan=0 flags=0x1",    // u-umlaut: upper-cased
  })
  void keyEventsInjectVirtualKeys(int kind, int code, String logged) {
    assertTrue(OS.Display_PostKeyEvent(display, kind, code, 'x'));
    assertEquals(logged + "\n", Probe.takeInputLog());
  }

  @ParameterizedTest(name = "button {1} kind {0}")
  @CsvSource({
    "1, 8, mouse dx=0 dy=0 data=0 flags=0x2",
    "2, 8, mouse dx=0 dy=0 data=0 flags=0x4",
    "1, 16, mouse dx=0 dy=0 data=0 flags=0x20",
    "2, 16, mouse dx=0 dy=0 data=0 flags=0x40",
    "1, 32, mouse dx=0 dy=0 data=0 flags=0x8",
    "3, 32, mouse dx=0 dy=0 data=0 flags=0x10",
  })
  void pointerEventsInjectButtons(int kind, int button, String logged) {
    assertTrue(OS.Display_PostPointerEvent(display, kind, button));
    assertEquals(logged + "\n", Probe.takeInputLog());
  }

  @Test
  void unknownButtonsInjectNothing() {
    assertFalse(OS.Display_PostPointerEvent(display, 1, 4));
    assertEquals("", Probe.takeInputLog());
  }

  @Test
  void moveEventsAreNormalisedAcrossTheScreen() {
    assertTrue(OS.Display_PostPointerMoveEvent(display, 0, 0));
    assertTrue(OS.Display_PostPointerMoveEvent(display, 239, 319));
    assertTrue(OS.Display_PostPointerMoveEvent(display, 120, 160));
    assertEquals("mouse dx=0 dy=0 data=0 flags=0x8001\n"
        + "mouse dx=65535 dy=65535 data=0 flags=0x8001\n"
        + "mouse dx=32904 dy=32870 data=0 flags=0x8001\n", Probe.takeInputLog());
  }

  @Test
  void beepClearFocusAndFullScreenReportNothing() {
    OS.Display_Beep(display);
    OS.Display_ClearFocus(display);
    OS.Display_SetFullScreenShell(display, 0);
  }
}
