package com.zel.hvl;

/** Receives the failures of the toolkit's natives: the native's name, the code, the message. */
public interface HVLErrorHandler {
  void respond(String nativeName, int code, String message);
}
