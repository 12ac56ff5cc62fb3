package javax.bluetooth;

import java.io.ByteArrayOutputStream;
import java.nio.charset.StandardCharsets;
import java.util.Enumeration;
import java.util.Vector;

/**
 * One SDP data element. Besides the usual constructors it can be made from the element's SDP
 * encoding (the first element of the array; bytes after it are ignored).
 */
public class DataElement {
  public static final int NULL = 0x00;
  public static final int U_INT_1 = 0x08;
  public static final int U_INT_2 = 0x09;
  public static final int U_INT_4 = 0x0A;
  public static final int U_INT_8 = 0x0B;
  public static final int U_INT_16 = 0x0C;
  public static final int INT_1 = 0x10;
  public static final int INT_2 = 0x11;
  public static final int INT_4 = 0x12;
  public static final int INT_8 = 0x13;
  public static final int INT_16 = 0x14;
  public static final int URL = 0x40;
  public static final int UUID = 0x18;
  public static final int BOOL = 0x28;
  public static final int STRING = 0x20;
  public static final int DATSEQ = 0x30;
  public static final int DATALT = 0x38;

  private final int type;
  private Object value;

  public DataElement(int valueType) {
    if (valueType != NULL && valueType != DATSEQ && valueType != DATALT)
      throw new IllegalArgumentException("type needs a value: " + valueType);
    type = valueType;
    value = valueType == NULL ? null : new Vector<DataElement>();
  }

  public DataElement(boolean bool) {
    type = BOOL;
    value = Boolean.valueOf(bool);
  }

  public DataElement(int valueType, long number) {
    long min, max;
    switch (valueType) {
      case U_INT_1: min = 0; max = 0xFF; break;
      case U_INT_2: min = 0; max = 0xFFFF; break;
      case U_INT_4: min = 0; max = 0xFFFFFFFFL; break;
      case INT_1: min = Byte.MIN_VALUE; max = Byte.MAX_VALUE; break;
      case INT_2: min = Short.MIN_VALUE; max = Short.MAX_VALUE; break;
      case INT_4: min = Integer.MIN_VALUE; max = Integer.MAX_VALUE; break;
      case INT_8: min = Long.MIN_VALUE; max = Long.MAX_VALUE; break;
      default: throw new IllegalArgumentException("not an integer type: " + valueType);
    }
    if (number < min || number > max) throw new IllegalArgumentException("out of range: " + number);
    type = valueType;
    value = Long.valueOf(number);
  }

  public DataElement(int valueType, Object object) {
    boolean ok;
    switch (valueType) {
      case URL:
      case STRING: ok = object instanceof String; break;
      case UUID: ok = object instanceof UUID; break;
      case U_INT_8: ok = object instanceof byte[] && ((byte[]) object).length == 8; break;
      case U_INT_16:
      case INT_16: ok = object instanceof byte[] && ((byte[]) object).length == 16; break;
      default: ok = false;
    }
    if (!ok) throw new IllegalArgumentException("bad value for type " + valueType);
    type = valueType;
    value = object instanceof byte[] ? ((byte[]) object).clone() : object;
  }

  /** Decodes the SDP encoding at the start of the array. */
  public DataElement(byte[] encoded) {
    this(new Reader(encoded));
  }

  private DataElement(Reader in) {
    int header = in.u8();
    int kind = header >> 3;
    int sizeIndex = header & 7;
    switch (kind) {
      case 0:
        if (sizeIndex != 0) throw new IllegalArgumentException("bad nil header");
        type = NULL;
        break;
      case 1:
      case 2: {
        boolean signed = kind == 2;
        if (sizeIndex > 4) throw new IllegalArgumentException("bad integer size");
        int size = 1 << sizeIndex;
        type = (signed ? INT_1 : U_INT_1) + sizeIndex;
        byte[] raw = in.bytes(size);
        if (size == 16 || (size == 8 && !signed)) {
          value = raw;
        } else {
          long v = 0;
          for (byte b : raw) v = v << 8 | (b & 0xFF);
          if (signed && size < 8) v = v << (64 - 8 * size) >> (64 - 8 * size);
          value = Long.valueOf(v);
        }
        break;
      }
      case 3: {
        type = UUID;
        if (sizeIndex == 1 || sizeIndex == 2) {
          byte[] raw = in.bytes(sizeIndex == 1 ? 2 : 4);
          long v = 0;
          for (byte b : raw) v = v << 8 | (b & 0xFF);
          value = new UUID(v);
        } else if (sizeIndex == 4) {
          value = new UUID(in.bytes(16));
        } else {
          throw new IllegalArgumentException("bad UUID size");
        }
        break;
      }
      case 4:
      case 8:
        type = kind == 4 ? STRING : URL;
        value = new String(in.bytes(in.length(sizeIndex)), StandardCharsets.UTF_8);
        break;
      case 5:
        if (sizeIndex != 0) throw new IllegalArgumentException("bad boolean size");
        type = BOOL;
        value = Boolean.valueOf(in.u8() != 0);
        break;
      case 6:
      case 7: {
        type = kind == 6 ? DATSEQ : DATALT;
        int length = in.length(sizeIndex);
        int end = in.position + length;
        if (end > in.data.length || end < in.position) throw new IllegalArgumentException("sequence beyond the data");
        Vector<DataElement> items = new Vector<DataElement>();
        while (in.position < end) items.add(new DataElement(in));
        if (in.position != end) throw new IllegalArgumentException("sequence length does not match its elements");
        value = items;
        break;
      }
      default:
        throw new IllegalArgumentException("unknown element kind " + kind);
    }
  }

  public int getDataType() {
    return type;
  }

  public int getSize() {
    if (type != DATSEQ && type != DATALT) throw new ClassCastException("not a sequence");
    return ((Vector<?>) value).size();
  }

  public void addElement(DataElement element) {
    if (type != DATSEQ && type != DATALT) throw new ClassCastException("not a sequence");
    if (element == null) throw new NullPointerException();
    ((Vector<DataElement>) value).add(element);
  }

  public long getLong() {
    if (!(value instanceof Long)) throw new ClassCastException("not a small integer");
    return ((Long) value).longValue();
  }

  public boolean getBoolean() {
    if (type != BOOL) throw new ClassCastException("not a boolean");
    return ((Boolean) value).booleanValue();
  }

  /** The value: String, UUID, byte[], or an Enumeration of the elements of a sequence. */
  public Object getValue() {
    if (type == DATSEQ || type == DATALT) return ((Vector<DataElement>) value).elements();
    if (value instanceof Long || value instanceof Boolean || value == null) throw new ClassCastException("use getLong or getBoolean");
    return value instanceof byte[] ? ((byte[]) value).clone() : value;
  }

  /** The elements of a sequence (for this stand-in's users). */
  public Vector<DataElement> elements() {
    if (type != DATSEQ && type != DATALT) throw new ClassCastException("not a sequence");
    return new Vector<DataElement>((Vector<DataElement>) value);
  }

  /** The SDP encoding of the element. */
  public byte[] toByteArray() {
    ByteArrayOutputStream out = new ByteArrayOutputStream();
    encode(out);
    return out.toByteArray();
  }

  private void encode(ByteArrayOutputStream out) {
    switch (type) {
      case NULL: out.write(0); return;
      case BOOL: out.write(0x28); out.write(((Boolean) value) ? 1 : 0); return;
      case UUID: out.write(0x1C); out.write(((UUID) value).toByteArray128(), 0, 16); return;
      case STRING:
      case URL: {
        byte[] text = ((String) value).getBytes(StandardCharsets.UTF_8);
        int base = type == STRING ? 0x20 : 0x40;
        if (text.length < 256) { out.write(base | 5); out.write(text.length); }
        else if (text.length < 65536) { out.write(base | 6); out.write(text.length >> 8); out.write(text.length); }
        else { out.write(base | 7); for (int s = 24; s >= 0; s -= 8) out.write(text.length >> s); }
        out.write(text, 0, text.length);
        return;
      }
      case DATSEQ:
      case DATALT: {
        ByteArrayOutputStream inner = new ByteArrayOutputStream();
        for (DataElement element : (Vector<DataElement>) value) element.encode(inner);
        int length = inner.size();
        int base = type == DATSEQ ? 0x30 : 0x38;
        if (length < 256) { out.write(base | 5); out.write(length); }
        else if (length < 65536) { out.write(base | 6); out.write(length >> 8); out.write(length); }
        else { out.write(base | 7); for (int s = 24; s >= 0; s -= 8) out.write(length >> s); }
        out.write(inner.toByteArray(), 0, length);
        return;
      }
      default: {
        int sizeIndex = type & 7;
        out.write(type);
        if (value instanceof byte[]) {
          byte[] raw = (byte[]) value;
          out.write(raw, 0, raw.length);
        } else {
          long v = (Long) value;
          int size = 1 << sizeIndex;
          for (int i = size - 1; i >= 0; i--) out.write((int) (v >>> (8 * i)));
        }
      }
    }
  }

  public String toString() {
    switch (type) {
      case DATSEQ:
      case DATALT: {
        StringBuilder text = new StringBuilder(type == DATSEQ ? "seq(" : "alt(");
        boolean first = true;
        for (DataElement element : (Vector<DataElement>) value) {
          if (!first) text.append(' ');
          text.append(element);
          first = false;
        }
        return text.append(')').toString();
      }
      default:
        return String.format("0x%02X:", type) + (value instanceof byte[] ? java.util.Arrays.toString((byte[]) value) : value);
    }
  }

  private static final class Reader {
    final byte[] data;
    int position;

    Reader(byte[] data) {
      if (data == null) throw new NullPointerException();
      this.data = data;
    }

    int u8() {
      if (position >= data.length) throw new IllegalArgumentException("element beyond the data");
      return data[position++] & 0xFF;
    }

    byte[] bytes(int count) {
      if (count < 0 || count > data.length - position) throw new IllegalArgumentException("element beyond the data");
      byte[] result = java.util.Arrays.copyOfRange(data, position, position + count);
      position += count;
      return result;
    }

    int length(int sizeIndex) {
      switch (sizeIndex) {
        case 5: return u8();
        case 6: return u8() << 8 | u8();
        case 7: {
          long v = (long) u8() << 24 | u8() << 16 | u8() << 8 | u8();
          if (v > Integer.MAX_VALUE) throw new IllegalArgumentException("length too large");
          return (int) v;
        }
        default: throw new IllegalArgumentException("bad length size " + sizeIndex);
      }
    }
  }
}
