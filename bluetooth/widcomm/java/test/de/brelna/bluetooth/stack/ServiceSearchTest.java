package de.brelna.bluetooth.stack;

import static org.junit.jupiter.api.Assertions.*;

import de.brelna.bluetooth.sdp.RemoteServiceRecord;
import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.atomic.AtomicReference;
import javax.bluetooth.DataElement;
import javax.bluetooth.ServiceRecord;
import javax.bluetooth.UUID;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/** Service searches: which records arrive, and their attributes as DataElements. */
class ServiceSearchTest {
  static final String LONG_TEXT = "x".repeat(300);
  static final String METER_RECORDS =
      "discovery complete 30\n"
          + "device 00:0A:3A:11:22:33 \"Meter 7\"\n"
          // 1: serial port, 16-bit UUIDs
          + "service\n"
          + "attribute 0 u32:0x00010001\n"
          + "attribute 1 ( uuid16:0x1101 )\n"
          + "attribute 4 ( ( uuid16:0x0100 ) ( uuid16:0x0003 u8:7 ) )\n"
          + "attribute 9 ( ( uuid16:0x1101 u16:0x0100 ) )\n"
          + "attribute 0x100 text:\"Serial Port\"\n"
          + "attribute 0x301 ( u8:1 i16:-2 bool:true )\n"
          // 2: OBEX push, a 32-bit UUID
          + "service\n"
          + "attribute 0 u32:0x00010002\n"
          + "attribute 1 uuid32:0x00001105\n"
          + "attribute 4 ( ( uuid16:0x0100 ) ( uuid16:0x0003 u8:9 ) ( uuid16:0x0008 ) )\n"
          // 3: the meter's own service, a 128-bit UUID and a long text
          + "service\n"
          + "attribute 0 u32:0x00010003\n"
          + "attribute 1 ( uuid128:8A1C0001-7D3B-4C2A-9E6F-00A0C91E6BF6 uuid16:0x1101 )\n"
          + "attribute 0x101 text:\"" + LONG_TEXT + "\"\n";

  static final int[] ALL_IDS = {0, 1, 4, 0x100, 0x101, 0x200, 0x301};

  @BeforeEach
  void open() throws Exception {
    Air.open();
    BlueZ.reset();
    BlueZ.listener = null;
  }

  private static List<ServiceRecord> search(byte[][] uuids, int[] ids, int transaction, int expectedCode)
      throws Exception {
    BlueZ.reset();
    BlueZ.listService(Air.METER, uuids, ids, transaction);
    List<String> calls = BlueZ.calls();
    assertFalse(calls.isEmpty());
    assertEquals("serviceSearchComplete: " + transaction + " " + expectedCode, calls.get(calls.size() - 1), calls.toString());
    for (String call : calls.subList(0, calls.size() - 1)) assertEquals("addService: " + transaction, call);
    return new ArrayList<ServiceRecord>(BlueZ.records);
  }

  private static long recordHandle(ServiceRecord record) {
    return record.getAttributeValue(0).getLong();
  }

  @Test
  void recordsWithEveryRequestedUuidCarryTheRequestedAttributes() throws Exception {
    Air.set(METER_RECORDS);
    List<ServiceRecord> found = search(new byte[][] {Air.uuid16(0x1101)}, ALL_IDS, 11, 1);
    assertEquals(2, found.size());
    ServiceRecord serial = found.get(0);
    assertTrue(serial instanceof RemoteServiceRecord);
    assertEquals(Air.METER, ((RemoteServiceRecord) serial).getAddress());
    assertEquals(0x00010001L, recordHandle(serial));
    assertArrayEquals(new int[] {0, 1, 4, 0x100, 0x301}, serial.getAttributeIDs(), "only requested, present ones");
    // One element arrives as itself, several as a sequence.
    DataElement classes = serial.getAttributeValue(1);
    assertEquals(DataElement.UUID, classes.getDataType());
    assertEquals(new UUID(0x1101), classes.getValue());
    assertEquals("Serial Port", serial.getAttributeValue(0x100).getValue());
    DataElement mixed = serial.getAttributeValue(0x301);
    assertEquals(DataElement.DATSEQ, mixed.getDataType());
    assertEquals(3, mixed.getSize());
    assertEquals(DataElement.U_INT_1, mixed.elements().get(0).getDataType());
    assertEquals(-2, mixed.elements().get(1).getLong());
    assertTrue(mixed.elements().get(2).getBoolean());
    assertEquals(0x00010003L, recordHandle(found.get(1)), "the 128-bit service also lists 0x1101");
  }

  @Test
  void theProtocolDescriptorListIsASequenceOfSequences() throws Exception {
    Air.set(METER_RECORDS);
    List<ServiceRecord> found = search(new byte[][] {Air.uuid4(0x1105)}, new int[] {4}, 12, 1);
    assertEquals(1, found.size(), "a 4-byte request matches the 32-bit UUID");
    DataElement list = found.get(0).getAttributeValue(4);
    assertEquals(DataElement.DATSEQ, list.getDataType());
    assertEquals(3, list.getSize());
    List<DataElement> l2cap = list.elements().get(0).elements();
    List<DataElement> rfcomm = list.elements().get(1).elements();
    assertEquals(Arrays.asList(new UUID(0x0100)), Arrays.asList(l2cap.get(0).getValue()));
    assertEquals(new UUID(0x0003), rfcomm.get(0).getValue());
    assertEquals(DataElement.U_INT_1, rfcomm.get(1).getDataType());
    assertEquals(9, rfcomm.get(1).getLong(), "the RFCOMM channel");
    assertEquals(1, list.elements().get(2).getSize());

    Air.set(METER_RECORDS);
    DataElement serial = search(new byte[][] {Air.uuid16(0x1101)}, new int[] {4}, 13, 1).get(0).getAttributeValue(4);
    assertEquals(2, serial.getSize());
    assertEquals(7, serial.elements().get(1).elements().get(1).getLong());
  }

  @Test
  void uuidMatching() throws Exception {
    Air.set(METER_RECORDS);
    byte[] own = new UUID("8A1C00017D3B4C2A9E6F00A0C91E6BF6", false).toByteArray128();
    Object[][] cases = {
      {new byte[][] {own}, new long[] {0x00010003L}},
      {new byte[][] {own, Air.uuid16(0x1101)}, new long[] {0x00010003L}},
      {new byte[][] {Air.uuid16(0x1101), Air.uuid16(0x1105)}, new long[] {}},
      {new byte[][] {Air.uuid16(0x0003)}, new long[] {0x00010001L, 0x00010002L}},  // in the protocol list
      {new byte[][] {{0x11, 0x01}}, new long[] {}},  // 2 bytes lie over the top of the base UUID
      {new byte[][] {}, new long[] {0x00010001L, 0x00010002L, 0x00010003L}},
    };
    int transaction = 20;
    for (Object[] c : cases) {
      List<ServiceRecord> found = search((byte[][]) c[0], new int[] {0}, ++transaction, 1);
      long[] handles = found.stream().mapToLong(ServiceSearchTest::recordHandle).toArray();
      assertArrayEquals((long[]) c[1], handles, "case " + transaction);
    }
  }

  @Test
  void aLongStringTakesTheTwoByteLengthAndArraysArePaddedToTens() throws Exception {
    Air.set(METER_RECORDS);
    List<ServiceRecord> found = search(new byte[][] {new UUID("8A1C00017D3B4C2A9E6F00A0C91E6BF6", false).toByteArray128()},
        new int[] {0, 0x101}, 30, 1);
    byte[] text = null;
    for (byte[] array : BlueZ.byteArrays) {
      assertEquals(0, array.length % 10, "padded to a multiple of ten");
      if ((array[0] & 0xFF) == 0x26) text = array;
    }
    assertNotNull(text, "a 0x26 element");
    // The stack hands over the first 256 bytes of the 300.
    assertEquals(0x01, text[1]);
    assertEquals(0x00, text[2]);
    assertEquals(260, text.length);
    assertEquals(LONG_TEXT.substring(0, 256), found.get(0).getAttributeValue(0x101).getValue());
    byte[] handle = BlueZ.byteArrays.get(0);
    assertArrayEquals(new byte[] {0x0A, 0, 1, 0, 3, 0, 0, 0, 0, 0}, handle, "5 bytes in an array of 10");
  }

  @Test
  void decodedElementsEqualAnIndependentDecoder() throws Exception {
    Air.set(METER_RECORDS);
    List<byte[]> arrays = new ArrayList<byte[]>();
    search(new byte[][] {}, ALL_IDS, 40, 1);
    arrays.addAll(BlueZ.byteArrays);
    List<String> ours = new ArrayList<String>();
    List<String> command = new ArrayList<String>(Arrays.asList("python3", System.getenv("VORK_SDP_DECODER")));
    for (byte[] array : arrays) {
      ours.add(canonical(new DataElement(array)));
      StringBuilder hex = new StringBuilder();
      for (byte b : array) hex.append(String.format("%02X", b & 0xFF));
      command.add(hex.toString());
    }
    assertTrue(arrays.size() > 15, "elements of every kind");
    Process decoder = new ProcessBuilder(command).redirectErrorStream(true).start();
    List<String> theirs = new ArrayList<String>();
    try (BufferedReader in = new BufferedReader(new InputStreamReader(decoder.getInputStream(), StandardCharsets.UTF_8))) {
      for (String line; (line = in.readLine()) != null; ) theirs.add(line);
    }
    assertEquals(0, decoder.waitFor());
    assertEquals(theirs, ours);
  }

  /** The independent decoder's text form of an element. */
  static String canonical(DataElement element) {
    int type = element.getDataType();
    switch (type) {
      case DataElement.NULL: return "nil";
      case DataElement.BOOL: return "bool:" + element.getBoolean();
      case DataElement.UUID: return "uuid:" + element.getValue();
      case DataElement.STRING: return "str:" + hex(((String) element.getValue()).getBytes(StandardCharsets.UTF_8));
      case DataElement.URL: return "url:" + hex(((String) element.getValue()).getBytes(StandardCharsets.UTF_8));
      case DataElement.DATSEQ:
      case DataElement.DATALT: {
        List<String> items = new ArrayList<String>();
        for (DataElement item : element.elements()) items.add(canonical(item));
        return (type == DataElement.DATSEQ ? "seq(" : "alt(") + String.join(" ", items) + ")";
      }
      default: {
        boolean signed = type >= DataElement.INT_1;
        int bits = 8 << (type & 7);
        String prefix = (signed ? "i" : "u") + bits + ":";
        if (type == DataElement.U_INT_8 || type == DataElement.U_INT_16 || type == DataElement.INT_16)
          return prefix + "#" + hex((byte[]) element.getValue());
        long v = element.getLong();
        return prefix + (signed ? Long.toString(v) : Long.toUnsignedString(v));
      }
    }
  }

  static String hex(byte[] bytes) {
    StringBuilder text = new StringBuilder();
    for (byte b : bytes) text.append(String.format("%02X", b & 0xFF));
    return text.toString();
  }

  @Test
  void aFailedOrTimedOutDiscoveryCompletesEmptyAndTheNextSearchWorks() throws Exception {
    for (String outcome : new String[] {"discovery fail\n", "discovery never\n"}) {
      Air.set(METER_RECORDS + outcome);
      long stacks = Air.counter("stacks");
      assertTrue(search(new byte[][] {Air.uuid16(0x1101)}, new int[] {0}, 50, 1).isEmpty(), outcome);
      assertEquals(stacks + 1, Air.counter("stacks"), "a fresh adapter after " + outcome);
      Air.set(METER_RECORDS);
      assertEquals(2, search(new byte[][] {Air.uuid16(0x1101)}, new int[] {0}, 51, 1).size());
    }
    // The fresh adapter still runs inquiries.
    Air.set("inquiry complete 50\ndevice 00:0A:3A:11:22:33 \"Meter 7\" after 10\n");
    assertTrue(BlueZ.hciInquiry(0, 0, 0, 0L, 0));
    assertEquals(1, BlueZ.devices.size());
  }

  @Test
  void aJavaExceptionWhileDeliveringEndsTheSearchWithAnError() throws Exception {
    Air.set(METER_RECORDS);
    BlueZ.listener = new BlueZ.Listener() {
      public void addService(int transactionId, ServiceRecord record) {
        throw new IllegalStateException("listener refuses");
      }
    };
    List<ServiceRecord> found = search(new byte[][] {Air.uuid16(0x1101)}, new int[] {0}, 60, 3);
    assertEquals(1, found.size(), "nothing after the exception");
    BlueZ.listener = null;
    assertEquals(2, search(new byte[][] {Air.uuid16(0x1101)}, new int[] {0}, 61, 1).size());
  }

  @Test
  void aSearchWhileAnotherHoldsTheStackFailsAndBadInputIsRefused() throws Exception {
    // The first search holds the lock for 60 s of device time, the second gives up after 10 s.
    Air.slower(40, this::concurrentSearches);
  }

  private void concurrentSearches() throws Exception {
    Air.set(METER_RECORDS + "discovery never\n");
    AtomicReference<Throwable> failure = new AtomicReference<Throwable>();
    long before = Air.counter("discoveries");
    Thread first = new Thread(() -> {
      try {
        BlueZ.listService(Air.METER, new byte[][] {}, new int[] {0}, 70);
      } catch (Throwable t) {
        failure.set(t);
      }
    });
    first.start();
    // The first search holds the search lock while its discovery runs (60 s of device time).
    long deadline = System.currentTimeMillis() + 5000;
    while (Air.counter("discoveries") == before) {
      if (System.currentTimeMillis() > deadline) fail("the first search did not start");
      Thread.sleep(1);
    }
    BlueZ.listService(Air.METER, new byte[][] {}, new int[] {0}, 71);
    first.join(10000);
    assertNull(failure.get());
    List<String> calls = BlueZ.calls();
    assertTrue(calls.contains("serviceSearchComplete: 71 3"), calls.toString());
    assertTrue(calls.contains("serviceSearchComplete: 70 1"), calls.toString());

    Air.set(METER_RECORDS);
    for (String bad : new String[] {"000A3A112233", "00:0A:3A:11", ""}) {
      BlueZ.reset();
      BlueZ.listService(bad, new byte[][] {}, new int[] {0}, 72);
      assertEquals(Arrays.asList("serviceSearchComplete: 72 3"), BlueZ.calls(), bad);
    }
    BlueZ.reset();
    BlueZ.listService(Air.METER, null, new int[] {-1, 0x10000, 0}, 73);
    assertEquals(3, BlueZ.records.size(), "no UUIDs: every record; ids out of range are skipped");
    assertArrayEquals(new int[] {0}, BlueZ.records.get(0).getAttributeIDs());
  }
}
