package quibex.release;

import com.mirabo.android.talvino.LuService;
import com.mirabo.handler.DefaultRequestHandler;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;

/**
 * A small app as a release build ships it, shrunk and obfuscated with the
 * app's keep rules: it never names Codec, which only the library calls. It
 * loads plain rule files, replaces one, and checks the answers; it exits
 * with status 1 and "FAILED: ..." on the first wrong one.
 */
public final class ReleaseApp {
  private static final long LOAD_TIMEOUT_MILLIS = 10_000;
  private static final DefaultRequestHandler handler = new DefaultRequestHandler();

  private ReleaseApp() {}

  public static void main(String[] args) throws Exception {
    System.loadLibrary("quibex");
    Path dir = Files.createTempDirectory("quibex-release-");
    Path first = write(dir, "first", "||one.test^", "@@||ok.one.test^", "site.test##.first");
    Path second = write(dir, "second", "||two.test^", "site.test##.second", "||sentinel.test^");
    Path update = write(dir, "update", "||three.test^", "||sentinel2.test^");
    try {
      LuService.initADRules(first.toString(), second.toString());
      awaitBlocked("http://sentinel.test/");
      check(blocks("http://one.test/") && blocks("http://two.test/"), "both lists in force");
      check(!blocks("http://ok.one.test/") && !blocks("http://other.test/"), "exception and no rule");
      check(Arrays.equals(new String[] {".first", ".second"}, selectors("site.test")),
          "selectors of both lists");
      check(selectors("other.test") == null, "no selectors for a page without rules");

      LuService.updateADRules(first.toString(), update.toString());
      awaitBlocked("http://sentinel2.test/");
      check(blocks("http://three.test/") && !blocks("http://two.test/"), "the list replaced");
      check(Arrays.equals(new String[] {".first"}, selectors("site.test")), "selectors after update");
    } finally {
      for (Path file : new Path[] {first, second, update, dir}) Files.delete(file);
    }
    System.out.println("release build: rules loaded, answers as expected");
  }

  static Path write(Path dir, String name, String... lines) throws IOException {
    return Files.write(dir.resolve(name),
        (String.join("\n", lines) + "\n").getBytes(StandardCharsets.US_ASCII));
  }

  static boolean blocks(String url) {
    return handler.shouldADBlock(url, null);
  }

  static String[] selectors(String page) {
    return handler.getSelectorsForDomain(page, "http://" + page + "/", null);
  }

  static void awaitBlocked(String url) throws InterruptedException {
    long end = System.nanoTime() + LOAD_TIMEOUT_MILLIS * 1_000_000;
    while (!blocks(url)) {
      check(System.nanoTime() < end, "no rule was loaded: " + url + " never blocked");
      Thread.sleep(5);
    }
  }

  static void check(boolean condition, String what) {
    if (condition) return;
    System.out.println("FAILED: " + what);
    System.exit(1);
  }
}
