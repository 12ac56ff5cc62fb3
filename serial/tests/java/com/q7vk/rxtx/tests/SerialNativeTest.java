package com.q7vk.rxtx.tests;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.q7vk.rxtx.internal.Native;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/**
 * The serial natives of one build (chosen by the system property com.q7vk.rxtx.library) in
 * a real JVM, against pseudo-terminals linked as the device's COM ports.
 */
class SerialNativeTest {
    static final boolean DESKTOP = Native.LIBRARY.equals("vkrxtx");
    static final int RING = DESKTOP ? 12288 : 2000;
    static final int CHUNK = DESKTOP ? 6144 : 1000;
    static final int CE_FRAME = 0x8;

    static Path root;
    PtyPeer com1;

    @BeforeAll
    static void deviceRoot() throws IOException {
        root = Files.createTempDirectory("serial-device");
        PtyPeer.useDeviceRoot(root.toString());
    }

    @BeforeEach
    void peer() throws IOException {
        com1 = new PtyPeer(root, 1);
    }

    @AfterEach
    void closeAll() throws IOException {
        // Hand back whatever an earlier test left in the ring, so each test starts empty.
        Native.close(0);
        while (Native.read(0) >= 0) {}
        com1.close();
    }

    static boolean awaitData() throws InterruptedException {
        for (int i = 0; i < 2000; i++) {
            if (Native.isDataAvailable(0)) return true;
            Thread.sleep(1);
        }
        return false;
    }

    static byte[] readAll() {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        for (int b; (b = Native.read(0)) >= 0; ) out.write(b);
        return out.toByteArray();
    }

    static String text(byte[] bytes) {
        return new String(bytes, StandardCharsets.ISO_8859_1);
    }

    static byte[] pattern(int count) {
        byte[] bytes = new byte[count];
        for (int i = 0; i < count; i++) bytes[i] = (byte) (i % 251 + i / 251);
        return bytes;
    }

    @Test
    void fixedAnswers() {
        assertEquals(0, Native.getPortType());
        assertEquals(4, Native.getVersionID());
        assertEquals("hallo", Native.getName());
    }

    @Test
    void openConfiguresTheLineAt9600Raw8N1() throws Exception {
        assertEquals(1, Native.open(0));
        Process stty = new ProcessBuilder("stty", "-F", com1.slave, "-a").redirectErrorStream(true).start();
        String settings = new String(stty.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertEquals(0, stty.waitFor(), settings);
        assertTrue(settings.contains("speed 9600 baud"), settings);
        List<String> flags = Arrays.asList(settings.split("[\\s;]+"));
        for (String flag : List.of("cs8", "-parenb", "-cstopb", "-crtscts", "cread", "clocal", "-ixon", "-ixoff",
                "-icanon", "-echo", "-isig", "-opost", "-icrnl", "-istrip")) {
            assertTrue(flags.contains(flag), flag + " in " + settings);
        }
    }

    @Test
    void openRefusesMissingDevicesAndIndicesOutOfRange() throws Exception {
        for (int index : new int[] {5, 999, 1000, -1, Integer.MAX_VALUE, Integer.MIN_VALUE}) {
            assertEquals(1, Native.open(0));
            assertEquals(0, Native.open(index), "index " + index);
            assertEquals(-1, Native.write(0, 'x'), "the port is closed after open(" + index + ") failed");
        }
        // A link to something that is no terminal is no port either.
        Path file = Files.writeString(root.resolve("plain-file"), "data");
        Path com9 = root.resolve("dev/COM9");
        Files.createSymbolicLink(com9, file);
        try {
            assertEquals(0, Native.open(8));
        } finally {
            Files.delete(com9);
        }
    }

    @Test
    void writesTheLowByteAndArrays() {
        assertEquals(1, Native.open(0));
        assertEquals(1, Native.write(0, 0x1234));
        assertEquals(1, Native.write(0, -1));
        assertArrayEquals(new byte[] {0x34, (byte) 0xFF}, com1.receive(2, 2000));
        byte[] data = pattern(3000);
        assertEquals(data.length, Native.write(0, data));
        assertArrayEquals(data, com1.receive(data.length, 5000));
        assertEquals(0, Native.write(0, new byte[0]));
        assertEquals(0, Native.write(0, (byte[]) null));
        assertEquals(0, com1.receive(1, 100).length);
    }

    @Test
    void writesWithNoPortOpenReturnMinusTheLengthAndSendNothing() {
        assertEquals(-1, Native.write(0, 'a'));
        assertEquals(-7, Native.write(0, new byte[7]));
        assertEquals(1, Native.open(0));
        assertEquals(0, Native.close(0));
        assertEquals(0, Native.close(0));
        assertEquals(-1, Native.write(0, 'a'));
        assertEquals(-3, Native.write(0, new byte[3]));
        assertEquals(0, com1.receive(1, 100).length);
    }

    @Test
    void dataAvailableAnswersTrueOncePerArrival() throws Exception {
        assertEquals(1, Native.open(0));
        assertFalse(Native.isDataAvailable(0));
        assertEquals(-1, Native.read(0));
        com1.send("abc");
        assertTrue(awaitData());
        assertEquals('a', Native.read(0));
        assertFalse(Native.isDataAvailable(0), "nothing new arrived, though two bytes are unread");
        assertEquals("bc", text(readAll()));
        assertFalse(Native.isDataAvailable(0));
        com1.send("de");
        assertTrue(awaitData());
        assertEquals("de", text(readAll()));
        assertEquals(-1, Native.read(0));
    }

    @Test
    void everyByteValueReadsAsZeroTo255() throws Exception {
        assertEquals(1, Native.open(0));
        byte[] all = new byte[256];
        for (int i = 0; i < 256; i++) all[i] = (byte) (255 - i);
        com1.send(all);
        ByteArrayOutputStream got = new ByteArrayOutputStream();
        while (got.size() < 256 && awaitData()) {
            for (int b; (b = Native.read(0)) != -1; ) {
                assertTrue(b >= 0 && b <= 255, "read gave " + b);
                got.write(b);
            }
        }
        assertArrayEquals(all, got.toByteArray());
    }

    @Test
    void unreadBytesSurviveCloseAndReopen() throws Exception {
        assertEquals(1, Native.open(0));
        com1.send("xyz");
        assertTrue(awaitData());
        assertEquals('x', Native.read(0));
        assertEquals(0, Native.close(0));
        assertEquals('y', Native.read(0), "read works from the ring with the port closed");
        assertFalse(Native.isDataAvailable(0));
        assertEquals(1, Native.open(0));
        assertEquals('z', Native.read(0));
        assertEquals(-1, Native.read(0));
    }

    @Test
    void openWhileOpenClosesTheFirstPort() throws Exception {
        try (PtyPeer com2 = new PtyPeer(root, 2)) {
            assertEquals(1, Native.open(0));
            assertFalse(com1.slaveClosed());
            assertEquals(1, Native.open(1));
            assertTrue(com1.slaveClosed(), "COM1 was closed before COM2 was opened");
            assertEquals(1, Native.write(0, 'q'));
            assertArrayEquals(new byte[] {'q'}, com2.receive(1, 2000));
            assertEquals(0, com1.receive(1, 50).length);
            com2.send("from 2");
            assertTrue(awaitData());
            assertEquals("from 2", text(readAll()));
            // A port is held by one handle at a time: reopening the same one works only
            // because the old handle goes first.
            assertEquals(1, Native.open(1));
            assertEquals(1, Native.open(1));
            assertEquals(1, Native.write(0, 'r'));
            assertArrayEquals(new byte[] {'r'}, com2.receive(1, 2000));
        }
    }

    /** Sends `data` from another thread, as a device would while Java polls. */
    static Thread sender(PtyPeer peer, byte[] data) {
        Thread thread = new Thread(() -> peer.send(data), "pty sender");
        thread.setDaemon(true);
        thread.start();
        return thread;
    }

    @Test
    void aBurstFarLargerThanTheRingArrivesWholeAndInOrder() throws Exception {
        assertEquals(1, Native.open(0));
        byte[] data = pattern(RING * 6 + 17);
        Thread thread = sender(com1, data);
        ByteArrayOutputStream got = new ByteArrayOutputStream();
        int largestArrival = 0;
        long deadline = System.nanoTime() + 30_000_000_000L;
        while (got.size() < data.length && System.nanoTime() < deadline) {
            if (!Native.isDataAvailable(0)) {
                Thread.sleep(0, 200_000);
                continue;
            }
            byte[] arrival = readAll();
            largestArrival = Math.max(largestArrival, arrival.length);
            got.write(arrival);
        }
        thread.join(5000);
        assertArrayEquals(data, got.toByteArray());
        assertTrue(largestArrival <= CHUNK, "one poll took " + largestArrival + " bytes");
        if (!DESKTOP) assertEquals(CHUNK, largestArrival, "a poll takes up to the read chunk");
    }

    @Test
    void aFullRingHoldsBackNewBytesInsteadOfOverwritingUnreadOnes() throws Exception {
        assertEquals(1, Native.open(0));
        byte[] data = pattern(RING * 3 + 5);
        Thread thread = sender(com1, data);
        // Poll again and again without reading, until polls have brought nothing for a while:
        // the ring is then full, one byte short of its size, and the rest waits in the
        // terminal (the sender blocks once that is full too).
        long deadline = System.nanoTime() + 10_000_000_000L;
        long lastArrival = System.nanoTime();
        while (System.nanoTime() < deadline && System.nanoTime() - lastArrival < 200_000_000L) {
            if (Native.isDataAvailable(0)) lastArrival = System.nanoTime();
            Thread.sleep(0, 100_000);
        }
        byte[] first = readAll();
        assertEquals(RING - 1, first.length);
        assertArrayEquals(Arrays.copyOf(data, RING - 1), first);
        ByteArrayOutputStream got = new ByteArrayOutputStream();
        got.write(first);
        deadline = System.nanoTime() + 20_000_000_000L;
        while (got.size() < data.length && System.nanoTime() < deadline) {
            if (Native.isDataAvailable(0)) got.write(readAll());
            else Thread.sleep(0, 200_000);
        }
        thread.join(5000);
        assertArrayEquals(data, got.toByteArray());
    }

    @Test
    void pendingLineErrorsSkipOneDesktopWrite() throws Exception {
        assertEquals(1, Native.open(0));
        assertEquals(1, PtyPeer.raiseCommError(1, CE_FRAME));
        if (DESKTOP) {
            assertEquals(0, Native.write(0, 'A'), "skipped: an error was pending");
            assertEquals(1, Native.write(0, 'B'), "the error state was cleared by the skipped write");
            assertArrayEquals(new byte[] {'B'}, com1.receive(2, 300));
        } else {
            assertEquals(1, Native.write(0, 'A'), "the handheld write ignores the error state");
            assertArrayEquals(new byte[] {'A'}, com1.receive(2, 300));
        }
    }
}
