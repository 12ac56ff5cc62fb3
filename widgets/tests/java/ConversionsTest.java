package com.zel.hvl.test;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;

import org.junit.jupiter.api.Test;

class ConversionsTest {
  @Test
  void nativeListsBecomeStringArrays() {
    assertArrayEquals(new String[] {"one", "", "dr\u00EBi", "\u20AC"}, Probe.stringArray("one||dr\u00EBi|\u20AC"));
    assertArrayEquals(new String[] {}, Probe.stringArray(""));
    assertArrayEquals(new String[] {}, Probe.stringArray(null));
  }

  @Test
  void rectanglesAndPointsAreIntArraysInOrder() {
    assertArrayEquals(new int[] {1, -2, 30, 40}, Probe.rect(1, -2, 30, 40));
    assertArrayEquals(new int[] {7, 8}, Probe.point(7, 8));
  }
}
