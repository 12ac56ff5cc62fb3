package de.brelna.bluetooth.sdp;

import java.util.Map;
import java.util.TreeMap;
import javax.bluetooth.DataElement;
import javax.bluetooth.ServiceRecord;

/** A service record found on a remote device. */
public class RemoteServiceRecord implements ServiceRecord {
  private final String address;
  private final Map<Integer, DataElement> attributes = new TreeMap<Integer, DataElement>();

  public RemoteServiceRecord(String address) {
    this.address = address;
  }

  public String getAddress() {
    return address;
  }

  public synchronized DataElement getAttributeValue(int attrID) {
    return attributes.get(attrID);
  }

  public synchronized int[] getAttributeIDs() {
    int[] ids = new int[attributes.size()];
    int i = 0;
    for (Integer id : attributes.keySet()) ids[i++] = id;
    return ids;
  }

  public synchronized boolean setAttributeValue(int attrID, DataElement attrValue) {
    if (attrID < 0 || attrID > 0xFFFF) throw new IllegalArgumentException("attribute id " + attrID);
    if (attrValue == null) return attributes.remove(attrID) != null;
    attributes.put(attrID, attrValue);
    return true;
  }

  public String toString() {
    return "RemoteServiceRecord " + address + " " + attributes;
  }
}
