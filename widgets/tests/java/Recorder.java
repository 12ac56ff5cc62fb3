package com.zel.hvl.test;

import com.zel.hvl.HVLErrorHandler;
import java.util.ArrayList;
import java.util.List;

/** An error handler that notes every failure and, when asked, throws like a real one. */
final class Recorder implements HVLErrorHandler {
  static final class Failure extends RuntimeException {
    Failure(String message) {
      super(message);
    }
  }

  final List<String> calls = new ArrayList<>();
  boolean throwing;

  @Override
  public void respond(String nativeName, int code, String message) {
    calls.add(nativeName + "|" + code + "|" + message);
    if (throwing) throw new Failure(nativeName);
  }
}
