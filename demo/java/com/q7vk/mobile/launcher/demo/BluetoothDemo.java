package com.q7vk.mobile.launcher.demo;

import de.brelna.bluetooth.stack.BlueZ;
import de.brelna.bluetooth.stack.ClassResolver;
import java.io.PrintStream;
import java.util.ArrayList;
import java.util.List;
import javax.bluetooth.DataElement;
import javax.bluetooth.RemoteDevice;
import javax.bluetooth.ServiceRecord;
import javax.bluetooth.UUID;

/** Finds the meters in range and lists their serial-port services, as the field application does. */
public final class BluetoothDemo {
  private static final int SERIAL_PORT = 0x1101;
  private static final int[] ATTRIBUTES = {0x0000, 0x0001, 0x0004, 0x0100};

  private BluetoothDemo() {}

  public static void run(PrintStream out) {
    try {
      BlueZ.hciOpenDevice(0, new ClassResolver(), false);
      out.println("Bluetooth: local radio " + BlueZ.hciDevBTAddress(0) + " \"" + BlueZ.hciLocalName(0, 0) + "\"");
      out.println("Bluetooth: searching for devices...");
      BlueZ.reset();
      BlueZ.hciInquiry(0, 0, 0, 0L, 0);
      List<RemoteDevice> devices = new ArrayList<RemoteDevice>(BlueZ.devices);
      for (RemoteDevice device : devices) {
        int rssi = BlueZ.getRssi(device.getBluetoothAddress());
        out.println("  found " + device.getBluetoothAddress() + " \"" + device.getFriendlyName(false) + "\""
            + String.format(" (class %06X, ", device.getDeviceClass() & 0xFFFFFF)
            + (rssi == 256 ? "no link)" : "signal " + rssi + ")"));
      }
      for (RemoteDevice device : devices) {
        BlueZ.reset();
        BlueZ.listService(device.getBluetoothAddress(),
            new byte[][] {new UUID(SERIAL_PORT).toByteArray128()}, ATTRIBUTES, 1);
        for (ServiceRecord record : BlueZ.records) {
          DataElement name = record.getAttributeValue(0x0100);
          out.println("  " + device.getFriendlyName(false) + ": serial-port service \""
              + (name == null ? "?" : name.getValue()) + "\" on RFCOMM channel " + channelOf(record));
        }
        if (BlueZ.records.isEmpty()) out.println("  " + device.getFriendlyName(false) + ": no serial-port service");
      }
    } catch (Exception e) {
      out.println("Bluetooth: " + e);
    }
  }

  /** The RFCOMM channel from the protocol descriptor list (attribute 4), or -1. */
  private static long channelOf(ServiceRecord record) {
    DataElement protocols = record.getAttributeValue(0x0004);
    if (protocols == null || protocols.getDataType() != DataElement.DATSEQ) return -1;
    for (DataElement protocol : protocols.elements()) {
      List<DataElement> parts = protocol.elements();
      if (parts.size() >= 2 && new UUID(0x0003).equals(parts.get(0).getValue())) return parts.get(1).getLong();
    }
    return -1;
  }
}
