package javax.bluetooth;

/** A Bluetooth UUID, kept in its 128-bit form. */
public class UUID {
  private static final byte[] BASE = {
    0, 0, 0, 0, 0, 0, 0x10, 0, (byte) 0x80, 0, 0, (byte) 0x80, 0x5F, (byte) 0x9B, 0x34, (byte) 0xFB
  };
  private final byte[] bytes;

  /** A 16- or 32-bit UUID on the Bluetooth base UUID. */
  public UUID(long value) {
    if (value < 0 || value > 0xFFFFFFFFL) throw new IllegalArgumentException("not a 32-bit value: " + value);
    bytes = BASE.clone();
    for (int i = 0; i < 4; i++) bytes[i] = (byte) (value >>> (24 - 8 * i));
  }

  /** From hexadecimal digits: up to 8 when shortUUID, else exactly 32. */
  public UUID(String digits, boolean shortUUID) {
    if (digits == null) throw new NullPointerException();
    if (shortUUID) {
      if (digits.isEmpty() || digits.length() > 8) throw new IllegalArgumentException(digits);
      long v = Long.parseLong(digits, 16);
      bytes = new UUID(v).bytes;
    } else {
      if (digits.length() != 32) throw new IllegalArgumentException(digits);
      bytes = new byte[16];
      for (int i = 0; i < 16; i++) bytes[i] = (byte) Integer.parseInt(digits.substring(2 * i, 2 * i + 2), 16);
    }
  }

  /** From the 16 bytes, most significant first. */
  public UUID(byte[] sixteen) {
    if (sixteen.length != 16) throw new IllegalArgumentException("16 bytes expected");
    bytes = sixteen.clone();
  }

  public byte[] toByteArray128() {
    return bytes.clone();
  }

  public boolean equals(Object other) {
    return other instanceof UUID && java.util.Arrays.equals(((UUID) other).bytes, bytes);
  }

  public int hashCode() {
    return java.util.Arrays.hashCode(bytes);
  }

  public String toString() {
    StringBuilder text = new StringBuilder();
    for (byte b : bytes) text.append(String.format("%02X", b & 0xFF));
    return text.toString();
  }
}
