package com.zel.hvl.test;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.zel.hvl.r7tx.CallbackPeer;
import com.zel.hvl.r7tx.OS;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

class CallbacksTest {
  /** A peer that notes its events; it consumes keys and answers pointer presses with x + y. */
  public static final class Peer extends CallbackPeer {
    final List<String> events = new ArrayList<>();
    final List<Thread> threads = new ArrayList<>();

    @Override
    public void scrolled(int value, int kind) {
      events.add("scrolled " + value + " " + kind);
    }

    public void scrolledToo(int value, int kind) {
      events.add("scrolledToo " + value + " " + kind);
    }

    @Override
    public void windowEvent(int event) {
      events.add("window " + event);
    }

    @Override
    public boolean keyEvent(int kind, char character, int keyCode, int modifiers) {
      events.add("key " + kind + " " + character + " " + keyCode);
      threads.add(Thread.currentThread());
      return true;
    }

    @Override
    public int pointerPressed(int x, int y) {
      return x + y;
    }

    @Override
    public void pointerEvent(int kind, int x, int y, int button, int modifiers) {
      events.add("pointer " + kind + " " + x + " " + y + " " + button);
    }
  }

  private static final String PEER = "com/zel/hvl/test/CallbacksTest$Peer";
  private int display;
  private int widget;
  private final Peer peer = new Peer();

  @BeforeEach
  void setUp() {
    OS.hvlErrorHandler = new Recorder();
    display = OS.Display_New();
    OS.Display_InitCallbacks(display, new Object());
    widget = Probe.newWidget(display);
  }

  @AfterEach
  void tearDown() {
    OS.Widget_SetData(widget, null);
    OS.Widget_Dispose(widget);
    OS.Device_Dispose(display);
    OS.hvlErrorHandler = null;
  }

  @Test
  void idsThatShareAChainAreBothFound() {
    OS.Display_RegisterCallback(display, 3, PEER, "scrolled");
    OS.Display_RegisterCallback(display, 23, PEER, "scrolledToo");
    OS.Display_RegisterCallback(display, 2, PEER, "windowEvent");
    OS.Widget_SetData(widget, peer);
    Probe.raise(widget, 3, 40, 5);
    Probe.raise(widget, 23, 41, 6);
    Probe.raise(widget, 2, 201, 0);
    assertEquals(List.of("scrolled 40 5", "scrolledToo 41 6", "window 201"), peer.events);
  }

  @Test
  void eventsOfUnregisteredIdsAreDroppedAndKeysCountAsNotConsumed() {
    OS.Display_RegisterCallback(display, 3, PEER, "scrolled");
    OS.Widget_SetData(widget, peer);
    Probe.raise(widget, 2, 201, 0);
    assertFalse(Probe.raiseKey(widget, 'a'));
    assertEquals(0, Probe.raisePointerPressed(widget, 3, 4));
    assertTrue(peer.events.isEmpty());
  }

  @Test
  void resultsOfBooleanAndIntCallbacksComeBack() {
    CallbackPeer.registerAll(display);
    OS.Widget_SetData(widget, peer);
    assertTrue(Probe.raiseKey(widget, 'x'));
    assertEquals(7, Probe.raisePointerPressed(widget, 3, 4));
    Probe.raise(widget, 7, 10, 20);  // pointer: kind 10, at (20, 11), button 21
    assertEquals(List.of("key 1 x 65", "pointer 10 20 11 21"), peer.events);
  }

  @Test
  void aCallbackOnANativeThreadAttachesItForTheCall() {
    OS.Display_RegisterCallback(display, 5, PEER, "keyEvent");
    OS.Widget_SetData(widget, peer);
    assertTrue(Probe.raiseKey(widget, 'a'));  // resolves the method on this thread
    assertTrue(Probe.raiseKeyOnNativeThread(widget, 'b'));
    assertEquals(List.of("key 1 a 65", "key 1 b 65"), peer.events);
    assertNotEquals(Thread.currentThread(), peer.threads.get(1));
    assertFalse(peer.threads.get(1).isAlive());  // detached again
  }

  @Test
  void settingNullDataStopsTheEventsAndANewPeerTakesOver() {
    OS.Display_RegisterCallback(display, 3, PEER, "scrolled");
    OS.Widget_SetData(widget, peer);
    Probe.raise(widget, 3, 1, 1);
    OS.Widget_SetData(widget, null);
    Probe.raise(widget, 3, 2, 2);
    Peer second = new Peer();
    OS.Widget_SetData(widget, second);
    Probe.raise(widget, 3, 3, 3);
    assertEquals(List.of("scrolled 1 1"), peer.events);
    assertEquals(List.of("scrolled 3 3"), second.events);
  }

  @Test
  void anUnresolvableMethodDropsTheEvent() {
    OS.Display_RegisterCallback(display, 3, PEER, "noSuchMethod");
    OS.Display_RegisterCallback(display, 2, "com/zel/NoSuchClass", "windowEvent");
    OS.Widget_SetData(widget, peer);
    Probe.raise(widget, 3, 1, 1);
    Probe.raise(widget, 2, 201, 0);
    assertTrue(peer.events.isEmpty());
  }
}
