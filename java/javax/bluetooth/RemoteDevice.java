package javax.bluetooth;

/** A device found by an inquiry. */
public class RemoteDevice {
  private final String address;
  private final int deviceClass;
  private final String name;

  protected RemoteDevice(String address) {
    this(address, (byte) 0, (byte) 0, (byte) 0, (short) 0, 0, null);
  }

  public RemoteDevice(String address, byte b1, byte b2, byte b3, short s, int deviceClass, String name) {
    this.address = address;
    this.deviceClass = deviceClass;
    this.name = name;
  }

  public final String getBluetoothAddress() {
    return address;
  }

  public String getFriendlyName(boolean alwaysAsk) {
    return name;
  }

  public int getDeviceClass() {
    return deviceClass;
  }

  public String toString() {
    return address + " \"" + name + "\" class " + Integer.toHexString(deviceClass);
  }
}
