package de.brelna.bluetooth.stack;

import vork.radio.AirControl;

/** The simulated air of the tests, and the stack opened once for the whole run. */
final class Air {
  static final String LOCAL = "local 00:0B:0D:00:00:01 \"Test PDA\"\n";
  static final String METER = "00:0A:3A:11:22:33";
  static final String PRINTER = "00:0A:3A:44:55:66";

  private static boolean opened;

  private Air() {}

  /** Replaces the air (the local device line is always there). */
  static void set(String text) {
    int problems = AirControl.configure(LOCAL + text);
    if (problems != 0) throw new IllegalArgumentException(problems + " unreadable air lines in:\n" + text);
  }

  static synchronized void open() throws BlueZException {
    if (opened) return;
    set("");
    if (BlueZ.hciOpenDevice(0, new ClassResolver(), false) != 1) throw new AssertionError("hciOpenDevice");
    opened = true;
  }

  /**
   * Runs the body with the device clock only `scale` times faster than real time, for tests whose
   * steps must all happen within one device time-out even on a busy machine.
   */
  static void slower(int scale, ThrowingRunnable body) throws Exception {
    int previous = AirControl.clockScale(scale);
    try {
      body.run();
    } finally {
      AirControl.clockScale(previous);
    }
  }

  interface ThrowingRunnable {
    void run() throws Exception;
  }

  static long counter(String what) {
    return AirControl.counter(what);
  }

  /** A 16-byte request for a 16- or 32-bit UUID. */
  static byte[] uuid16(int value) {
    return new javax.bluetooth.UUID(value).toByteArray128();
  }

  /** A 4-byte request (the base UUID's remaining bytes are taken). */
  static byte[] uuid4(int value) {
    return new byte[] {(byte) (value >>> 24), (byte) (value >>> 16), (byte) (value >>> 8), (byte) value};
  }
}
