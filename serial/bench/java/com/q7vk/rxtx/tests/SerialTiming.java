package com.q7vk.rxtx.tests;

import com.q7vk.rxtx.internal.Native;
import java.nio.file.Files;
import java.nio.file.Path;

/**
 * What Java code pays: the serial natives timed from Java through JNI, against a
 * pseudo-terminal. Not a test; run by hand (see serial/CMakeLists.txt).
 */
public final class SerialTiming {
    public static void main(String[] args) throws Exception {
        Path root = Files.createTempDirectory("serial-timing");
        PtyPeer.useDeviceRoot(root.toString());
        try (PtyPeer peer = new PtyPeer(root, 1)) {
            if (Native.open(0) != 1) throw new IllegalStateException("open failed");
            System.out.println("library " + Native.LIBRARY);
            for (int round = 0; round < 3; round++) {
                readLoop(peer);
                readCalls(peer);
            }
            Native.close(0);
        }
        Files.walk(root).sorted(java.util.Comparator.reverseOrder()).forEach(p -> p.toFile().delete());
    }

    /** Bytes per second through the isDataAvailable/read loop while a sender keeps the line busy. */
    static void readLoop(PtyPeer peer) throws InterruptedException {
        byte[] data = new byte[4 << 20];
        Thread sender = new Thread(() -> peer.send(data));
        sender.setDaemon(true);
        long start = System.nanoTime();
        sender.start();
        long got = 0;
        while (got < data.length) {
            if (Native.isDataAvailable(0)) {
                while (Native.read(0) >= 0) got++;
            }
        }
        long nanos = System.nanoTime() - start;
        sender.join();
        System.out.printf("isDataAvailable/read loop: %.1f MB/s%n", got / (nanos / 1e9) / 1e6);
    }

    /** One read call on a ring that holds bytes. */
    static void readCalls(PtyPeer peer) {
        long calls = 0;
        long nanos = 0;
        byte[] data = new byte[64 << 10];
        Thread sender = new Thread(() -> {
            for (int i = 0; i < 64; i++) peer.send(data);
        });
        sender.setDaemon(true);
        sender.start();
        long total = 64L * data.length;
        long got = 0;
        while (got < total) {
            if (!Native.isDataAvailable(0)) continue;
            long start = System.nanoTime();
            int n = 0;
            while (Native.read(0) >= 0) n++;
            nanos += System.nanoTime() - start;
            calls += n + 1;
            got += n;
        }
        System.out.printf("read: %.1f ns per call (%d calls)%n", (double) nanos / calls, calls);
    }
}
