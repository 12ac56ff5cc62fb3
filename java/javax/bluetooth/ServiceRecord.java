package javax.bluetooth;

/** The attributes of one service. */
public interface ServiceRecord {
  int NOAUTHENTICATE_NOENCRYPT = 0;
  int AUTHENTICATE_NOENCRYPT = 1;
  int AUTHENTICATE_ENCRYPT = 2;

  DataElement getAttributeValue(int attrID);

  int[] getAttributeIDs();

  boolean setAttributeValue(int attrID, DataElement attrValue);
}
