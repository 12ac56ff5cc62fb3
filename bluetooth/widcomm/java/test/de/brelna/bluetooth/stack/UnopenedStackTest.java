package de.brelna.bluetooth.stack;

import static org.junit.jupiter.api.Assertions.*;

import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

/** Runs in a VM of its own, where hciOpenDevice is never called. */
class UnopenedStackTest {
  @BeforeEach
  void reset() {
    BlueZ.reset();
    BlueZ.listener = null;
  }

  private static void assertNotInitialized(String method, Executable call) {
    BlueZException e = assertThrows(BlueZException.class, call, method);
    assertEquals("Stack not initialized (" + method + ")", e.getMessage());
  }

  @Test
  void nativesThatNeedTheStackRefuseBeforeItIsOpened() {
    assertNotInitialized("hciInquiry", () -> BlueZ.hciInquiry(0, 0, 0, 0L, 0));
    assertNotInitialized("hciRemoteName", () -> BlueZ.hciRemoteName(0, Air.METER, 0));
    assertNotInitialized("listService", () -> BlueZ.listService(Air.METER, new byte[][] {Air.uuid16(0x1101)}, new int[] {1}, 7));
    assertNotInitialized("hciDevBTAddress", () -> BlueZ.hciDevBTAddress(0));
    assertNotInitialized("hciLocalName", () -> BlueZ.hciLocalName(0, 0));
    assertTrue(BlueZ.calls().isEmpty(), "no search completion before the stack is open: " + BlueZ.calls());
    assertEquals(256, assertDoesNotThrow(() -> BlueZ.getRssi(Air.METER)));
    BlueZ.cancelInquiry();  // nothing to cancel, and no failure
  }

  @Test
  void fixedAnswers() {
    assertEquals(0, BlueZ.hciDeviceID(0));
    assertEquals(7, BlueZ.getMaxConnectedDevices());
    assertEquals(257, BlueZ.getLinkQuality(0));
    assertTrue(BlueZ.isMasterSwitchAllowed());
    assertTrue(BlueZ.inquiryScanAndConAllowed());
    assertTrue(BlueZ.inquiryAndConAllowed());
    assertTrue(BlueZ.pageScanAndConAllowed());
    assertTrue(BlueZ.pageAndConnAllowed());
    BlueZException e = assertThrows(BlueZException.class, () -> BlueZ.getDeviceClass(0));
    assertEquals("Local Device class not supported by Widcomm", e.getMessage());
  }
}
