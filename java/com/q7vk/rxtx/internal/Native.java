package com.q7vk.rxtx.internal;

/**
 * The serial port natives. The library is loaded on first use: "vkrxtxce" (the handheld build)
 * unless the system property {@code com.q7vk.rxtx.library} names another, such as "vkrxtx"
 * (the desktop build).
 *
 * <p>There is one port per process. The {@code int} first argument of {@code close},
 * {@code write}, {@code isDataAvailable} and {@code read} names the port and is ignored. Call
 * from one thread at a time.
 */
public final class Native {
    public static final String LIBRARY = System.getProperty("com.q7vk.rxtx.library", "vkrxtxce");

    static {
        System.loadLibrary(LIBRARY);
    }

    private Native() {}

    /** Always 0. */
    public static native int getPortType();

    /** Always 4. */
    public static native int getVersionID();

    /** Always "hallo". */
    public static native String getName();

    /** Opens COM port number {@code port + 1} at 9600 baud, 8N1; 1 when open, else 0. */
    public static native int open(int port);

    /** Closes the port; received bytes not yet read stay readable after the next open. Always 0. */
    public static native int close(int port);

    /** Writes the low 8 bits of {@code value}: 1 or 0 bytes written, -1 when no port is open. */
    public static native int write(int port, int value);

    /** Writes the array: bytes written, minus its length when no port is open. */
    public static native int write(int port, byte[] data);

    /**
     * Takes what the port received and answers true when new bytes came since the last true
     * answer. After true, read until {@link #read} answers -1.
     */
    public static native boolean isDataAvailable(int port);

    /** The next received byte as 0 to 255, or -1 when none is waiting. */
    public static native int read(int port);
}
