package de.brelna.bluetooth.stack;

import static org.junit.jupiter.api.Assertions.*;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/** The reading model: chunks through newData, then exactly one connectionClosed. */
class ReadLoopTest {
  static final long HANDLE = 0x7FFF00001234L;

  @BeforeEach
  void reset() {
    BlueZ.reset();
    BlueZ.listener = null;
    BlueZ.newDataResult = 1;
  }

  private static List<Integer> chunkLengths() {
    List<Integer> lengths = new ArrayList<Integer>();
    for (byte[] chunk : BlueZ.chunks) lengths.add(chunk.length);
    return lengths;
  }

  @Test
  void chunksArriveInOrderAndTheEndIsReportedOnce() throws Exception {
    Object[][] cases = {
      // script, empty pass ends, chunk lengths
      {new int[] {3, 0, 5, -1, 7}, false, Arrays.asList(3, 5)},
      {new int[] {20}, false, Arrays.asList(16)},  // at most the buffer size
      {new int[] {-1}, false, Arrays.asList()},  // closed before any data
      {new int[] {}, false, Arrays.asList()},
      {new int[] {4, 0, 4}, true, Arrays.asList(4)},  // desktop: an empty receive ends it
    };
    for (Object[] c : cases) {
      BlueZ.reset();
      ReadLoopProbe.run(HANDLE, 16, (int[]) c[0], (Boolean) c[1]);
      assertEquals(c[2], chunkLengths(), Arrays.toString((int[]) c[0]));
      assertEquals(Arrays.asList(HANDLE), BlueZ.closed);
    }
    // The bytes as received, across chunks.
    BlueZ.reset();
    ReadLoopProbe.run(HANDLE, 16, new int[] {2, 3}, false);
    assertArrayEquals(new byte[] {0, 1}, BlueZ.chunks.get(0));
    assertArrayEquals(new byte[] {2, 3, 4}, BlueZ.chunks.get(1));
    List<String> calls = BlueZ.calls();
    assertEquals("connectionClosed: " + HANDLE, calls.get(calls.size() - 1));
  }

  @Test
  void aNewDataAnswerOtherThanOneEndsTheLoop() throws Exception {
    BlueZ.newDataResult = 0;
    ReadLoopProbe.run(HANDLE, 16, new int[] {3, 3, 3}, false);
    assertEquals(Arrays.asList(3), chunkLengths());
    assertEquals(Arrays.asList(HANDLE), BlueZ.closed);
  }

  @Test
  void aFailedPassEndsTheLoopAndItsExceptionReachesTheCaller() {
    BlueZException e = assertThrows(BlueZException.class, () -> ReadLoopProbe.run(HANDLE, 16, new int[] {2, -2, 2}, false));
    assertEquals("Error aquiring lock (readBytes)", e.getMessage());
    assertEquals(Arrays.asList(2), chunkLengths());
    assertEquals(Arrays.asList(HANDLE), BlueZ.closed, "connectionClosed still comes, once");
  }

  @Test
  void aBufferSizeOfZeroReadsNothingButStillEnds() throws Exception {
    ReadLoopProbe.run(HANDLE, 0, new int[] {3}, false);
    assertTrue(BlueZ.chunks.isEmpty());
    assertEquals(Arrays.asList(HANDLE), BlueZ.closed);
  }
}
