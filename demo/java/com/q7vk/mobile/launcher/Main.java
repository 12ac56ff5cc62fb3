package com.q7vk.mobile.launcher;

import java.io.PrintStream;
import java.lang.reflect.Method;

/**
 * Demo stand-in for the application's start class: shows what the launcher handed over and
 * then lets each library's demo part show what it can do on the simulated handheld.
 */
public final class Main {
    private static final String[] PARTS = {"Serial", "Bluetooth", "Widgets"};

    private Main() {
    }

    public static void main(String[] args) throws Exception {
        PrintStream out = System.out;
        out.println("== VORK@MOBILE demo application");
        out.println("arguments: " + String.join(" | ", args));
        out.println("java.library.path: " + System.getProperty("java.library.path"));
        out.println("osgi.noShutdown: " + System.getProperty("osgi.noShutdown", "(not set)"));
        for (String part : PARTS) {
            Class<?> demo;
            try {
                demo = Class.forName("com.q7vk.mobile.launcher.demo." + part + "Demo");
            } catch (ClassNotFoundException missing) {
                continue;
            }
            out.println("== " + part);
            Method run = demo.getMethod("run", PrintStream.class);
            try {
                run.invoke(null, out);
            } catch (java.lang.reflect.InvocationTargetException failure) {
                out.println(part + " demo failed: " + failure.getCause());
            }
        }
        out.println("== demo application ends");
    }
}
