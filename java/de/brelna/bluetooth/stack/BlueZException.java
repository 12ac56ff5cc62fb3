package de.brelna.bluetooth.stack;

/** A failure reported by a Bluetooth native, with its fixed message text. */
public class BlueZException extends Exception {
  public BlueZException(String message) {
    super(message);
  }
}
