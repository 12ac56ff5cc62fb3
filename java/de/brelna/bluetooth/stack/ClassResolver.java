package de.brelna.bluetooth.stack;

/**
 * Finds the classes the Bluetooth natives need, by slash-separated name, in the class loader
 * of the application (the natives never use the VM's own lookup for them).
 */
public class ClassResolver {
  public Class createClass(String name) {
    try {
      return Class.forName(name.replace('/', '.'), true, getClass().getClassLoader());
    } catch (ClassNotFoundException e) {
      return null;
    }
  }
}
