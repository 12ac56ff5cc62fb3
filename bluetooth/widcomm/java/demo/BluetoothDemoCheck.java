/** Runs the Bluetooth demo part on its own (the device root is prepared by its setup script). */
public final class BluetoothDemoCheck {
  public static void main(String[] args) {
    com.q7vk.mobile.launcher.demo.BluetoothDemo.run(System.out);
  }
}
