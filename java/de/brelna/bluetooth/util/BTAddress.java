package de.brelna.bluetooth.util;

/** A Bluetooth device address in its colon form ("00:11:22:33:44:55"). */
public class BTAddress {
  private final String text;

  public BTAddress(String text) {
    this.text = text;
  }

  public String toString() {
    return text;
  }

  public boolean equals(Object other) {
    return other instanceof BTAddress && ((BTAddress) other).text.equals(text);
  }

  public int hashCode() {
    return text.hashCode();
  }
}
