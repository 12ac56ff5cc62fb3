package com.q7vk.mobile.launcher.demo;

import com.q7vk.rxtx.internal.Native;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;

/** Reads a serial meter on COM3 through the serial natives. */
public final class SerialDemo {
    static final int PORT = 2; // port index 2 is COM3

    private final StringBuilder received = new StringBuilder();

    private SerialDemo() {}

    public static void run(PrintStream out) {
        out.println("Serial: library " + Native.LIBRARY + ", version " + Native.getVersionID()
                + ", port type " + Native.getPortType() + ", name \"" + Native.getName() + "\"");
        int opened = Native.open(PORT);
        out.println("Serial: open(" + PORT + ") = " + opened + " (COM3, 9600 baud, 8N1)");
        if (opened != 1) {
            out.println("Serial: no meter on COM3");
            return;
        }
        try {
            SerialDemo demo = new SerialDemo();
            demo.ask(out, "*IDN?");
            for (int i = 0; i < 3; i++) demo.ask(out, "MEAS?");
        } finally {
            out.println("Serial: close = " + Native.close(PORT));
        }
    }

    private void ask(PrintStream out, String command) {
        int written = Native.write(PORT, command.getBytes(StandardCharsets.ISO_8859_1));
        written += Native.write(PORT, '\r');
        out.println("Serial: sent \"" + command + "\\r\" (" + written + " bytes), meter answers \""
                + readLine(3000) + "\"");
    }

    /** One answer line; after each arrival, every waiting byte is read. */
    private String readLine(long timeoutMs) {
        long deadline = System.currentTimeMillis() + timeoutMs;
        while (true) {
            int end = received.indexOf("\n");
            if (end >= 0) {
                String line = received.substring(0, end).replace("\r", "");
                received.delete(0, end + 1);
                return line;
            }
            if (System.currentTimeMillis() > deadline) return "(no answer)";
            if (Native.isDataAvailable(PORT)) {
                for (int b; (b = Native.read(PORT)) != -1; ) received.append((char) b);
            } else {
                try {
                    Thread.sleep(5);
                } catch (InterruptedException e) {
                    Thread.currentThread().interrupt();
                    return "(interrupted)";
                }
            }
        }
    }
}
