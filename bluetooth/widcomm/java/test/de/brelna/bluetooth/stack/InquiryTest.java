package de.brelna.bluetooth.stack;

import static org.junit.jupiter.api.Assertions.*;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.atomic.AtomicReference;
import javax.bluetooth.RemoteDevice;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import vork.radio.AirControl;

/** Opening the stack, the local device, inquiries, remote names, signal strength, stack status. */
class InquiryTest {
  static final String TWO_DEVICES =
      "inquiry complete 400\n"
          + "device 00:0A:3A:11:22:33 \"Meter 7\" class 1F0102 after 20 responses 4 every 50 rssi 250\n"
          + "device 00:0A:3A:44:55:66 \"Caf\\xE9 Printer\" class 040680 after 120\n";

  @BeforeEach
  void open() throws Exception {
    Air.open();
    BlueZ.reset();
    BlueZ.listener = null;
  }

  @Test
  void openingTwiceOpensTheStackOnceAndShowsTheLocalDevice() throws Exception {
    long stacks = Air.counter("stacks");
    assertEquals(1, BlueZ.hciOpenDevice(0, new ClassResolver(), true));
    assertEquals(1, BlueZ.hciOpenDevice(0, null, false));
    assertEquals(stacks, Air.counter("stacks"), "no second stack");
    assertEquals("00:0B:0D:00:00:01", BlueZ.hciDevBTAddress(0).toString());
    assertEquals("Test PDA", BlueZ.hciLocalName(0, 0));
  }

  @Test
  void eachDeviceIsReportedOnceWithItsClassAndName() throws Exception {
    Air.set(TWO_DEVICES);
    assertTrue(BlueZ.hciInquiry(0, 0, 0, 0L, 0));
    List<RemoteDevice> devices = new ArrayList<RemoteDevice>(BlueZ.devices);
    assertEquals(2, devices.size(), BlueZ.calls().toString());
    assertEquals(Air.METER, devices.get(0).getBluetoothAddress());
    assertEquals("Meter 7", devices.get(0).getFriendlyName(false));
    assertEquals(0xFF1F0102, devices.get(0).getDeviceClass());
    assertEquals(Air.PRINTER, devices.get(1).getBluetoothAddress());
    assertEquals("Caf\u00e9 Printer", devices.get(1).getFriendlyName(false), "a Latin-1 name");
    assertEquals(0xFF040680, devices.get(1).getDeviceClass());
  }

  @Test
  void anEmptyInquiryAnswersTrueWithoutDevices() throws Exception {
    Air.set("inquiry complete 100\n");
    assertTrue(BlueZ.hciInquiry(0, 0, 0, 0L, 0));
    assertTrue(BlueZ.calls().isEmpty());
  }

  /** Runs hciInquiry on a thread of its own; the reference receives its outcome. */
  private static Thread inquireInBackground(AtomicReference<Object> outcome) {
    Thread thread = new Thread(() -> {
      try {
        outcome.set(BlueZ.hciInquiry(0, 0, 0, 0L, 0));
      } catch (Throwable t) {
        outcome.set(t);
      }
    }, "inquirer");
    thread.start();
    return thread;
  }

  private static String messageOf(Object outcome) {
    assertTrue(outcome instanceof BlueZException, "expected a BlueZException, got " + outcome);
    return ((BlueZException) outcome).getMessage();
  }

  @Test
  void cancellingARunningInquiryFailsIt() throws Exception {
    Air.slower(10, this::cancelRunningInquiry);
  }

  private void cancelRunningInquiry() throws Exception {
    Air.set("inquiry never\ndevice 00:0A:3A:11:22:33 \"Meter 7\" after 10\n");
    AtomicReference<Object> outcome = new AtomicReference<Object>();
    Thread thread = inquireInBackground(outcome);
    assertTrue(BlueZ.awaitCall("deviceDiscovered", 5000));
    BlueZException busy = assertThrows(BlueZException.class, () -> BlueZ.hciInquiry(0, 0, 0, 0L, 0));
    assertEquals("Inquiry already in Progress", busy.getMessage());
    BlueZ.cancelInquiry();
    thread.join(5000);
    assertEquals("Inquiry failed.", messageOf(outcome.get()));
    // The stack is ready for the next one.
    Air.set("inquiry complete 50\n");
    assertTrue(BlueZ.hciInquiry(0, 0, 0, 0L, 0));
  }

  @Test
  void inquiriesThatNeverCompleteOrCannotStart() throws Exception {
    Air.set("inquiry never\ndevice 00:0A:3A:11:22:33 \"Meter 7\" after 10\n");
    BlueZException timedOut = assertThrows(BlueZException.class, () -> BlueZ.hciInquiry(0, 0, 0, 0L, 0));
    assertEquals("Inquiry timed out.", timedOut.getMessage());
    assertEquals(1, BlueZ.devices.size(), "found devices are delivered before the time-out");
    Air.set("inquiry fail\n");
    BlueZException failed = assertThrows(BlueZException.class, () -> BlueZ.hciInquiry(0, 0, 0, 0L, 0));
    assertEquals("Inquiry failed.", failed.getMessage());
  }

  @Test
  void aJavaExceptionFromDeviceDiscoveredCancelsTheInquiry() throws Exception {
    Air.set(TWO_DEVICES);
    BlueZ.listener = new BlueZ.Listener() {
      public void deviceDiscovered(RemoteDevice device) {
        throw new IllegalStateException("listener refuses " + device.getBluetoothAddress());
      }
    };
    BlueZException e = assertThrows(BlueZException.class, () -> BlueZ.hciInquiry(0, 0, 0, 0L, 0));
    assertEquals("Inquiry failed.", e.getMessage());
    assertEquals(1, BlueZ.devices.size(), "nothing more after the exception");
    BlueZ.reset();
    BlueZ.listener = null;
    assertTrue(BlueZ.hciInquiry(0, 0, 0, 0L, 0));
    assertEquals(2, BlueZ.devices.size());
  }

  @Test
  void remoteNamesComeFromTheLastInquiryOrANewOne() throws Exception {
    Air.set(TWO_DEVICES);
    assertTrue(BlueZ.hciInquiry(0, 0, 0, 0L, 0));
    long inquiries = Air.counter("inquiries");
    assertEquals("Meter 7", BlueZ.hciRemoteName(0, Air.METER, 0));
    assertEquals("Caf\u00e9 Printer", BlueZ.hciRemoteName(0, Air.PRINTER.toLowerCase(), 0));
    assertEquals(inquiries, Air.counter("inquiries"), "answered from the table");

    BlueZ.reset();
    assertNull(BlueZ.hciRemoteName(0, "00:0A:3A:99:99:99", 0));
    assertEquals(inquiries + 1, Air.counter("inquiries"), "a full inquiry for an unknown device");
    assertEquals(2, BlueZ.devices.size(), "which reports every device it finds");

    Air.set(TWO_DEVICES + "device 00:0A:3A:77:77:77 \"Late\" after 200\n");
    assertEquals("Late", BlueZ.hciRemoteName(0, "00:0A:3A:77:77:77", 0));

    for (String bad : new String[] {"000A3A777777", "00:0A", "", "zz:0A:3A:77:77:77"})
      assertNull(BlueZ.hciRemoteName(0, bad, 0), bad);
  }

  @Test
  void signalStrengthOfALink() throws Exception {
    Air.set("device 00:0A:3A:11:22:33 rssi 250\n"
        + "device 00:0A:3A:11:22:34 rssi 243\n"
        + "device 00:0A:3A:11:22:35 rssi 242\n"
        + "device 00:0A:3A:11:22:36 rssi -20\n"
        + "device 00:0A:3A:11:22:37 rssi 256\n"
        + "device 00:0A:3A:11:22:38\n");
    String[] addresses = {"00:0A:3A:11:22:33", "00:0A:3A:11:22:34", "00:0A:3A:11:22:35", "00:0A:3A:11:22:36",
                          "00:0A:3A:11:22:37", "00:0A:3A:11:22:38", "00:0A:3A:11:22:39", "nonsense"};
    int[] expected = {-6, -13, 242, -20, 256, 256, 256, 256};
    for (int i = 0; i < addresses.length; i++) assertEquals(expected[i], BlueZ.getRssi(addresses[i]), addresses[i]);
  }

  @Test
  void stackDownArrivesOnAStackThreadAndEndsARunningInquiry() throws Exception {
    Air.slower(10, this::stackDownDuringInquiry);
  }

  private void stackDownDuringInquiry() throws Exception {
    Air.set("inquiry never\ndevice 00:0A:3A:11:22:33 \"Meter 7\" after 10\n");
    AtomicReference<Object> outcome = new AtomicReference<Object>();
    Thread thread = inquireInBackground(outcome);
    assertTrue(BlueZ.awaitCall("deviceDiscovered", 5000));
    AirControl.stackStatus(0);  // down
    thread.join(5000);
    assertEquals("Inquiry failed.", messageOf(outcome.get()));
    AirControl.stackStatus(2);  // error
    AirControl.stackStatus(4);  // reloaded: no call
    AirControl.stackStatus(1);  // up
    assertEquals(2, BlueZ.stackDownThreads.size(), BlueZ.calls().toString());
    for (String name : BlueZ.stackDownThreads) {
      assertNotEquals(Thread.currentThread().getName(), name);
      assertNotEquals("inquirer", name);
    }
    // A listener that throws does not hurt the stack's thread.
    BlueZ.listener = new BlueZ.Listener() {
      public void stackDown() {
        throw new IllegalStateException("listener refuses");
      }
    };
    AirControl.stackStatus(3);  // unloaded
    AirControl.stackStatus(1);
    BlueZ.listener = null;
    assertEquals(3, BlueZ.stackDownThreads.size());
    Air.set("inquiry complete 50\n");
    assertTrue(BlueZ.hciInquiry(0, 0, 0, 0L, 0));
  }
}
