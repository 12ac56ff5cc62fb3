package de.brelna.bluetooth.stack;

import de.brelna.bluetooth.util.BTAddress;
import java.util.ArrayList;
import java.util.List;
import javax.bluetooth.RemoteDevice;
import javax.bluetooth.ServiceRecord;

/**
 * The Bluetooth natives and the callbacks they make. The callbacks record what they receive
 * (for tests and simple callers) and pass it on to the listener, if one is set.
 */
public class BlueZ {
  /** The back end: brelnaBTCE (handheld) unless the property names another library. */
  public static final String LIBRARY = System.getProperty("de.brelna.bluetooth.library", "brelnaBTCE");

  static {
    System.loadLibrary(LIBRARY);
  }

  /** Receives the callbacks; any method may throw to show how the natives cope. */
  public interface Listener {
    default void deviceDiscovered(RemoteDevice device) {}

    default void addService(int transactionId, ServiceRecord record) {}

    default void serviceSearchComplete(int transactionId, int responseCode) {}

    default void stackDown() {}
  }

  public static final int SERVICE_SEARCH_COMPLETED = 1;
  public static final int SERVICE_SEARCH_ERROR = 3;

  public static volatile Listener listener;

  /** Everything received so far, in order, as "callback: details" lines. */
  public static final List<String> calls = new ArrayList<String>();
  public static final List<RemoteDevice> devices = new ArrayList<RemoteDevice>();
  public static final List<ServiceRecord> records = new ArrayList<ServiceRecord>();
  /** Every array handed out by newByteArray, in order (the natives fill them). */
  public static final List<byte[]> byteArrays = new ArrayList<byte[]>();
  /** The chunks newData received, in order, and the handles connectionClosed received. */
  public static final List<byte[]> chunks = new ArrayList<byte[]>();
  public static final List<Long> closed = new ArrayList<Long>();
  /** What newData answers (1 goes on reading). */
  public static volatile int newDataResult = 1;
  /** The names of the threads that called stackDown. */
  public static final List<String> stackDownThreads = new ArrayList<String>();

  /** Forgets what was recorded (the listener stays). */
  public static void reset() {
    synchronized (calls) {
      calls.clear();
      devices.clear();
      records.clear();
      byteArrays.clear();
      chunks.clear();
      closed.clear();
      stackDownThreads.clear();
    }
  }

  private static void note(String call) {
    synchronized (calls) {
      calls.add(call);
      calls.notifyAll();
    }
  }

  // ---- Natives ------------------------------------------------------------------------------
  public static native int hciOpenDevice(int deviceId, Object classResolver, boolean verbose) throws BlueZException;

  public static native int hciDeviceID(int deviceId);

  public static native BTAddress hciDevBTAddress(int deviceId) throws BlueZException;

  public static native String hciLocalName(int deviceId, int unused) throws BlueZException;

  public static native int getDeviceClass(int deviceId) throws BlueZException;

  public static native boolean hciInquiry(int a, int b, int c, long flags, int d) throws BlueZException;

  public static native void cancelInquiry();

  public static native String hciRemoteName(int deviceId, String address, int unused) throws BlueZException;

  public static native int getRssi(String address) throws BlueZException;

  public static native int getLinkQuality(int unused);

  public static native void listService(String address, byte[][] uuids, int[] attributeIds, int transactionId)
      throws BlueZException;

  public static native int getMaxConnectedDevices();

  public static native boolean isMasterSwitchAllowed();

  public static native boolean inquiryScanAndConAllowed();

  public static native boolean inquiryAndConAllowed();

  public static native boolean pageScanAndConAllowed();

  public static native boolean pageAndConnAllowed();

  // ---- Callbacks ----------------------------------------------------------------------------
  public static void deviceDiscovered(RemoteDevice device) {
    synchronized (calls) {
      devices.add(device);
    }
    note("deviceDiscovered: " + device.getBluetoothAddress() + " " + device.getFriendlyName(false));
    Listener l = listener;
    if (l != null) l.deviceDiscovered(device);
  }

  public static void addService(int transactionId, ServiceRecord record) {
    synchronized (calls) {
      records.add(record);
    }
    note("addService: " + transactionId);
    Listener l = listener;
    if (l != null) l.addService(transactionId, record);
  }

  public static void serviceSearchComplete(int transactionId, int responseCode) {
    note("serviceSearchComplete: " + transactionId + " " + responseCode);
    Listener l = listener;
    if (l != null) l.serviceSearchComplete(transactionId, responseCode);
  }

  public static byte[] newByteArray(int length) {
    byte[] array = new byte[length];
    synchronized (calls) {
      byteArrays.add(array);
    }
    return array;
  }

  public static int newData(byte[] data, long handle) {
    synchronized (calls) {
      chunks.add(data);
    }
    note("newData: " + handle + " " + data.length);
    return newDataResult;
  }

  public static void connectionClosed(long handle) {
    synchronized (calls) {
      closed.add(handle);
    }
    note("connectionClosed: " + handle);
  }

  public static void stackDown() {
    synchronized (calls) {
      stackDownThreads.add(Thread.currentThread().getName());
    }
    note("stackDown");
    Listener l = listener;
    if (l != null) l.stackDown();
  }

  /** Waits (at most the given milliseconds) until a recorded call begins with the text. */
  public static boolean awaitCall(String prefix, long millis) throws InterruptedException {
    long end = System.currentTimeMillis() + millis;
    synchronized (calls) {
      while (true) {
        for (String call : calls) if (call.startsWith(prefix)) return true;
        long left = end - System.currentTimeMillis();
        if (left <= 0) return false;
        calls.wait(left);
      }
    }
  }

  public static List<String> calls() {
    synchronized (calls) {
      return new ArrayList<String>(calls);
    }
  }
}
