package quibex.jvmtest;

import static quibex.jvmtest.Checks.check;
import static quibex.jvmtest.Checks.checkEquals;

import com.mirabo.android.talvino.JReq;
import com.mirabo.android.talvino.LuService;
import com.mirabo.handler.DefaultRequestHandler;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;

/**
 * A JVM whose class path has no Codec ("noClass"), or a Codec without
 * "decrypt(String)" ("noMethod"): the library still loads and answers, with
 * no rules, since no line can be deciphered. Must not refer to Codec.
 */
public final class NoCodecTest {
  static final long WATCH_MILLIS = 1_000;
  static final String CODEC = "com.mirabo.android.talvino.Codec";

  private NoCodecTest() {}

  public static void main(String[] args) {
    String scenario = args.length > 0 ? args[0] : "";
    Checks.main(scenario, () -> {
      switch (scenario) {
        case "noClass": checkNoCodecClass(); break;
        case "noMethod": checkNoDecryptMethod(); break;
        default: throw new IllegalArgumentException("unknown scenario " + scenario);
      }
      System.loadLibrary("quibex");

      DefaultRequestHandler handler = new DefaultRequestHandler();
      Path dir = Files.createTempDirectory("quibex-jvm-");
      Path first = Files.write(dir.resolve("first"),
          "||x.test^\nx.test##.y".getBytes(StandardCharsets.US_ASCII));
      Path second = Files.write(dir.resolve("second"),
          "||z.test^".getBytes(StandardCharsets.US_ASCII));
      try {
        LuService.initADRules(first.toString(), second.toString());
        watchNoRules(handler);
        LuService.updateADRules(first.toString(), second.toString());
        watchNoRules(handler);
      } finally {
        Files.delete(first);
        Files.delete(second);
        Files.delete(dir);
      }
      checkEquals(0, LuService.init(), "LuService.init");
      checkEquals(1529, JReq.getCert().length, "keystore image length");
    });
  }

  static void checkNoCodecClass() {
    boolean missing = false;
    try {
      Class.forName(CODEC);
    } catch (ClassNotFoundException expected) {
      missing = true;
    }
    check(missing, "Codec is on the class path of this test");
  }

  static void checkNoDecryptMethod() throws ClassNotFoundException {
    boolean missing = false;
    try {
      Class.forName(CODEC).getMethod("decrypt", String.class);
    } catch (NoSuchMethodException expected) {
      missing = true;
    }
    check(missing, "this test's Codec has decrypt(String)");
  }

  /** For a while, every answer is that of an engine without rules. */
  static void watchNoRules(DefaultRequestHandler handler) throws InterruptedException {
    long end = System.nanoTime() + WATCH_MILLIS * 1_000_000;
    while (System.nanoTime() < end) {
      check(!handler.shouldADBlock("http://x.test/", null), "x.test blocked without Codec");
      check(!handler.shouldADBlock("http://z.test/", null), "z.test blocked without Codec");
      check(handler.getSelectorsForDomain("x.test", "http://x.test/", null) == null,
          "selectors without Codec");
      Thread.sleep(5);
    }
  }
}
