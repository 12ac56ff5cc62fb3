import de.brelna.bluetooth.stack.BlueZ;
import de.brelna.bluetooth.stack.ClassResolver;

/**
 * Checks that need a VM of their own, run by tests/child_check.sh:
 *   throw-failure  the resolver gives an exception class that cannot be made with a message;
 *   no-resolver    the resolver gives no BlueZException class at all;
 *   stack-down     a stack-down notification attaches the stack's thread, then main returns
 *                  (the VM must still end).
 */
public final class BlueZChild {
  /** A throwable without a message constructor. */
  public static final class Mute extends RuntimeException {
    public Mute() {}
  }

  public static void main(String[] args) throws Exception {
    final String mode = args[0];
    ClassResolver resolver = new ClassResolver() {
      public Class createClass(String name) {
        if (name.equals("de/brelna/bluetooth/stack/BlueZException")) {
          if (mode.equals("throw-failure")) return Mute.class;
          if (mode.equals("no-resolver")) return null;
        }
        return super.createClass(name);
      }
    };
    vork.radio.AirControl.configure("local 00:0B:0D:00:00:01 \"Child\"\n");
    BlueZ.hciOpenDevice(0, resolver, false);
    if (mode.equals("stack-down")) {
      vork.radio.AirControl.stackStatus(0);
      System.out.println("stackDown calls: " + BlueZ.stackDownThreads.size());
      return;
    }
    try {
      int result = BlueZ.getDeviceClass(0);
      System.out.println("returned " + result);
    } catch (Throwable t) {
      System.out.println("threw " + t.getClass().getName() + ": " + t.getMessage());
    }
    System.out.flush();
  }
}
