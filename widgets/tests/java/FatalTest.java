package com.zel.hvl.test;

import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.zel.hvl.r7tx.OS;
import java.io.File;
import java.nio.charset.StandardCharsets;
import java.nio.file.Paths;
import java.util.List;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** The fatal paths end the process; each runs in a child VM. */
class FatalTest {
  private static String location(Class<?> type) throws Exception {
    return Paths.get(type.getProtectionDomain().getCodeSource().getLocation().toURI()).toString();
  }

  @ParameterizedTest(name = "{0}")
  @CsvSource(delimiter = '|', value = {
    "no-handler|Error occured and no error handler has been set",
    "duplicate|An event callback with that ID has already been registered",
    "no-registry|Display_GetCallbacks() returned NULL and should not have",
  })
  void fatalErrorsEndTheProcess(String mode, String message) throws Exception {
    String java = Paths.get(System.getProperty("java.home"), "bin", "java").toString();
    String classPath = location(FatalMain.class) + File.pathSeparator + location(OS.class);
    ProcessBuilder builder = new ProcessBuilder(List.of(java, "-XX:-CreateCoredumpOnCrash",
        "-Djava.library.path=" + System.getProperty("java.library.path"), "-cp", classPath,
        FatalMain.class.getName(), mode));
    builder.redirectErrorStream(true);
    Process child = builder.start();
    String output = new String(child.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
    assertTrue(child.waitFor(60, TimeUnit.SECONDS));
    assertNotEquals(0, child.exitValue(), output);
    assertTrue(output.contains(message), output);
    assertFalse(output.contains("still running"), output);
  }
}
