package de.brelna.bluetooth.stack;

/** Runs the shared read loop over a scripted connection (see read_loop_probe.cpp). */
final class ReadLoopProbe {
  static {
    System.loadLibrary("bluez_read_loop_probe");
  }

  private ReadLoopProbe() {}

  static native void run(long handle, int bufferSize, int[] script, boolean emptyPassEnds) throws BlueZException;
}
