package vork.radio;

/** Scripts the simulated air from Java tests (see vork/radio_control.h). */
public final class AirControl {
  static {
    System.loadLibrary("VorkRadioControl");
  }

  private AirControl() {}

  /** Replaces the air with the given text form; answers the number of unreadable lines. */
  public static native int configure(String text);

  public static native void useFile();

  /** Announces a stack status change and returns once the stacks were told. */
  public static native void stackStatus(int status);

  public static native long counter(String what);

  public static native void resetCounters();

  /** Sets how much faster than real time the device clock runs; answers the previous scale. */
  public static native int clockScale(int scale);
}
