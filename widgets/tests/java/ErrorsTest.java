package com.zel.hvl.test;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import com.zel.hvl.r7tx.OS;
import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

class ErrorsTest {
  private final Recorder recorder = new Recorder();

  @BeforeEach
  void install() {
    OS.hvlErrorHandler = recorder;
  }

  @AfterEach
  void remove() {
    OS.hvlErrorHandler = null;
  }

  @ParameterizedTest(name = "error {0} reaches Java as {1}")
  @CsvSource(delimiter = '|', value = {
    "8|-4|Op::Not enough storage is available to process this command.\\r\\n",
    "14|-4|Op::Not enough storage is available to complete this operation.\\r\\n",
    "2|-3|Op::The system cannot find the file specified.\\r\\n",
    "0|-3|Op::The operation completed successfully.\\r\\n",
    "99999|-3|Op::FormatMessage failed",
    "-6|-6|Op",
    "-1|-1|Op",
  })
  void systemAndToolkitErrorsReachTheHandler(int number, int code, String message) {
    assertEquals(code, Probe.reportError("Some_Native", number, "Op"));
    assertEquals(List.of("Some_Native|" + code + "|" + message.replace("\\r\\n", "\r\n")), recorder.calls);
  }

  @Test
  void aFailingNativeAnswersZeroAfterOneReport() {
    assertEquals(0, OS.Color_New(0, 256, 0, 0));
    assertEquals(List.of("Color_New|-3|Invalid color component range"), recorder.calls);
    assertEquals(0, com.zel.hvl.eswt.OS.Display_GetSystemColor(0, 26));
    assertEquals("Display_GetSystemColor|-3|Unrecognized color ID", recorder.calls.get(1));
    assertEquals(2, recorder.calls.size());
  }

  @Test
  void whatTheHandlerThrowsReachesTheCaller() {
    recorder.throwing = true;
    Recorder.Failure thrown = assertThrows(Recorder.Failure.class, () -> OS.Color_New(0, -1, 0, 0));
    assertEquals("Color_New", thrown.getMessage());
    assertEquals(1, recorder.calls.size());
  }
}
