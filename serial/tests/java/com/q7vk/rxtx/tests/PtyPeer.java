package com.q7vk.rxtx.tests;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;

/** The far end of a pseudo-terminal whose slave is linked as a COM port of the device. */
final class PtyPeer implements AutoCloseable {
    static {
        System.loadLibrary("serial_testpeer");
    }

    static native void useDeviceRoot(String path);
    static native int openMaster();
    static native String slaveName(int fd);
    static native int send(int fd, byte[] data);
    static native byte[] receive(int fd, int count, int timeoutMs);
    static native boolean slaveClosed(int fd);
    static native void closeMaster(int fd);
    static native int raiseCommError(int comNumber, int errors);

    final int fd;
    final String slave;
    final Path link;

    /** A new pseudo-terminal whose slave is linked as {@code <root>/dev/COM<number>}. */
    PtyPeer(Path root, int comNumber) throws IOException {
        fd = openMaster();
        if (fd < 0) throw new IOException("no pseudo-terminal");
        slave = slaveName(fd);
        link = root.resolve("dev").resolve("COM" + comNumber);
        Files.createDirectories(link.getParent());
        Files.deleteIfExists(link);
        Files.createSymbolicLink(link, Paths.get(slave));
    }

    void send(byte[] data) {
        if (send(fd, data) != data.length) throw new IllegalStateException("short write to the pseudo-terminal");
    }

    void send(String text) {
        send(text.getBytes(java.nio.charset.StandardCharsets.ISO_8859_1));
    }

    byte[] receive(int count, int timeoutMs) {
        return receive(fd, count, timeoutMs);
    }

    boolean slaveClosed() {
        return slaveClosed(fd);
    }

    @Override
    public void close() throws IOException {
        closeMaster(fd);
        Files.deleteIfExists(link);
    }
}
