package quibex.jvmtest;

import static quibex.jvmtest.Checks.await;
import static quibex.jvmtest.Checks.check;
import static quibex.jvmtest.Checks.checkEquals;
import static quibex.jvmtest.Checks.promptly;

import com.mirabo.android.talvino.Codec;
import com.mirabo.android.talvino.LuService;
import com.mirabo.handler.DefaultRequestHandler;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * Drives libquibex in this JVM the way the host application does: loads it
 * with System.loadLibrary, starts loads of enciphered rule files and asks
 * both questions. Each scenario runs in a JVM of its own (the library's
 * state lives as long as the process):
 *
 * <pre>java ... quibex.jvmtest.BridgeTest loading|answers|codecFaults|update</pre>
 *
 * A load is known to be finished when a sentinel rule of its second file
 * blocks: the engine turns queries away until both files are read.
 */
public final class BridgeTest {
  private static final DefaultRequestHandler handler = new DefaultRequestHandler();

  private BridgeTest() {}

  public static void main(String[] args) {
    String scenario = args.length > 0 ? args[0] : "";
    Checks.main(scenario, () -> {
      System.loadLibrary("quibex");
      try (RuleFiles files = new RuleFiles()) {
        switch (scenario) {
          case "loading": loading(files); break;
          case "answers": answers(files); break;
          case "codecFaults": codecFaults(files); break;
          case "update": update(files); break;
          default: throw new IllegalArgumentException("unknown scenario " + scenario);
        }
      }
    });
  }

  static boolean blocks(String url) {
    return handler.shouldADBlock(url, null);
  }

  static String[] selectors(String page) {
    return handler.getSelectorsForDomain(page, "http://" + page + "/", null);
  }

  static void awaitBlocked(String url) throws InterruptedException {
    await(() -> blocks(url), url + " blocked once the load is done");
  }

  /** Nothing is blocked and no selectors come back before rules are requested. */
  static void checkNoRulesRequested() {
    check(!handler.shouldADBlock("http://a.test/", "http://b.test/"), "blocked before any load");
    check(handler.getSelectorsForDomain("a.test", "http://a.test/", "http://b.test/") == null,
        "selectors before any load");
  }

  /**
   * Rule lines are deciphered by Codec.decrypt on the loading thread, which
   * is attached once per file and detached after it; queries during the load
   * are answered at once.
   */
  static void loading(RuleFiles files) throws Exception {
    checkNoRulesRequested();
    String[] first = {"||one.test^", "||held.test^", "site.test##.first"};
    // Long enough that references kept per line would exceed the thread's
    // local reference capacity, which -Xcheck:jni reports.
    String[] second = new String[40];
    second[0] = "||two.test^";
    second[1] = "site.test##.second";
    for (int i = 2; i < second.length - 1; i++) second[i] = "||filler-" + i + ".test^";
    second[second.length - 1] = "||sentinel.test^";
    Codec.holdOn = "||held.test^";
    LuService.initADRules(files.enciphered("first", first), files.enciphered("second", second));

    // The load is pending or holds the engine: no query may wait for it.
    check(!promptly(() -> blocks("http://one.test/"), "shouldADBlock after initADRules"),
        "blocked while a load is pending");
    check(Codec.awaitHeld(Checks.LOAD_TIMEOUT_MILLIS), "the load never reached the held line");
    check(!promptly(() -> blocks("http://one.test/"), "shouldADBlock during a load"),
        "blocked by a rule of a load still running");
    check(promptly(() -> selectors("site.test"), "getSelectorsForDomain during a load") == null,
        "selectors while a load runs");
    Codec.release();

    awaitBlocked("http://sentinel.test/");
    check(blocks("http://one.test/") && blocks("http://held.test/") && blocks("http://two.test/"),
        "every rule of both files is in force");
    checkEquals(new String[] {".first", ".second"}, selectors("site.test"), "selectors");

    List<Codec.Call> calls = Codec.calls();
    int lines = first.length + second.length;
    checkEquals(lines, calls.size(), "decrypt calls, one per line");
    Thread firstThread = calls.get(0).thread;
    Thread secondThread = calls.get(first.length).thread;
    for (int i = 0; i < lines; i++) {
      Codec.Call call = calls.get(i);
      boolean inFirst = i < first.length;
      String plain = inFirst ? first[i] : second[i - first.length];
      checkEquals(plain, call.plain, "line " + i + " in file order");
      check(call.thread == (inFirst ? firstThread : secondThread),
          "line " + i + " deciphered on its file's thread");
    }
    Thread main = Thread.currentThread();
    check(firstThread != main && secondThread != main, "decrypt ran on a Java thread");
    checkEquals("quibex-load", firstThread.getName(), "the loading thread's name in the VM");
    check(firstThread != secondThread, "the loading thread was not detached between files");
    check(!firstThread.isAlive() && !secondThread.isAlive(),
        "the loading thread is still attached after the load");
  }

  /**
   * The answers: the second list before the first, selectors in the
   * engine's order as a String[], null (never an empty array) for none, and
   * null page and referrer arguments taken as empty.
   */
  static void answers(RuleFiles files) throws Exception {
    checkNoRulesRequested();
    // More selectors for one page than a native's local reference capacity,
    // so each element's reference must be deleted as it is stored.
    String[] many = new String[40];
    String[] manyRules = new String[many.length];
    for (int i = 0; i < many.length; i++) {
      many[i] = ".m" + i;
      manyRules[i] = "many.test##" + many[i];
    }
    List<String> firstList = new ArrayList<>(Arrays.asList(
        "||both.test^",
        "@@||reverse.test^",
        "||party.test^$third-party",
        "www.shop.test##.c",
        "shop.test##.a",
        "shop.test,www.shop.test##.d",
        "@@||doc.test^$elemhide,third-party",
        "utf.test##[title=\"caf\u00e9 \u2713 \ud83d\ude00\"]",
        "||utf.test/caf\u00e9/\ud83d\ude00/x\u0000y^",
        "||utf-page.test^$domain=caf\u00e9.test",
        "caf\u00e9.test##.utf",
        "|\u2713\u2713\u2713|"));
    firstList.addAll(Arrays.asList(manyRules));
    LuService.initADRules(
        files.enciphered("first", firstList.toArray(new String[0])),
        files.enciphered("second",
            "@@||both.test^",
            "||reverse.test^",
            "shop.test##.b",
            "||sentinel.test^"));
    awaitBlocked("http://sentinel.test/");

    check(!blocks("http://both.test/ad.js"), "an exception of the second list beats the first");
    check(blocks("http://reverse.test/ad.js"), "a block of the second list beats the first");

    // Candidates shop.test, then www.shop.test; each in filing order.
    checkEquals(new String[] {".a", ".d", ".b", ".c", ".d"}, selectors("www.shop.test"),
        "selectors in the engine's order");
    checkEquals(new String[] {"[title=\"caf\u00e9 \u2713 \ud83d\ude00\"]"}, selectors("utf.test"),
        "a selector beyond ASCII comes back unchanged");
    check(selectors("nothing.test") == null, "a page without selectors gives null");

    // Arguments beyond ASCII (a character outside the BMP, U+0000) reach the
    // engine as the same bytes as the rule lines that Codec deciphered.
    String beyond = "/\ud83d\ude00/x\u0000y/";
    check(blocks("http://utf.test/caf\u00e9" + beyond), "a request URL beyond ASCII");
    check(!blocks("http://utf.test/cafe" + beyond), "\u00e9 is not e");
    check(handler.shouldADBlock("http://utf-page.test/", "http://caf\u00e9.test/"),
        "a page URL beyond ASCII");
    check(!handler.shouldADBlock("http://utf-page.test/", "http://cafe.test/"),
        "a page URL that differs beyond ASCII");
    checkEquals(new String[] {".utf"}, selectors("caf\u00e9.test"), "a page address beyond ASCII");
    // Three bytes for every character: the longest conversion there is.
    check(blocks("\u2713\u2713\u2713"), "a request URL of three-byte characters only");
    check(!blocks("\u2713\u2713"), "an anchored rule of three-byte characters");
    checkEquals(many, selectors("many.test"), "forty selectors");

    String party = "http://party.test/ad.js";
    check(handler.shouldADBlock(party, null) == handler.shouldADBlock(party, ""),
        "a null page is an empty page");
    check(!handler.shouldADBlock(party, null), "a third-party rule with no page");
    check(handler.shouldADBlock(party, "http://other.test/"), "a third-party rule with a page");

    String page = "www.shop.test";
    String document = "http://doc.test/";
    checkEquals(handler.getSelectorsForDomain(page, document, ""),
        handler.getSelectorsForDomain(page, document, null), "a null referrer is an empty one");
    check(handler.getSelectorsForDomain(page, document, null) != null,
        "the third-party elemhide exception needs a referrer");
    check(handler.getSelectorsForDomain(page, document, "http://other.test/") == null,
        "an elemhide exception switches hiding off");

    check(!handler.shouldADBlock(null, null), "a null request url");
    check(handler.getSelectorsForDomain(null, null, null) == null, "a null page address");
  }

  /**
   * A decrypt that throws, returns null or returns "" only costs its own
   * line; a line that is not modified UTF-8 never reaches Java.
   */
  static void codecFaults(RuleFiles files) throws Exception {
    Codec.throwOn = "||thrown.test^";
    Codec.nullOn = "||nulled.test^";
    Codec.emptyOn = "||emptied.test^";
    byte[] bad = {0x41, (byte) 0x80, 0x42, 0x43};
    byte[] fourByte = {'|', '|', 'f', '.', 't', (byte) 0xF0, (byte) 0x9F, (byte) 0x98, (byte) 0x80};
    byte[] surrogates = {(byte) 0xED, (byte) 0xA0, (byte) 0xBD, (byte) 0xED, (byte) 0xB8, (byte) 0x80};
    byte[] encodedNul = {'x', (byte) 0xC0, (byte) 0x80, 'y'};
    String[] plain = {"||before.test^", "||thrown.test^", "||after-throw.test^",
        "||nulled.test^", "||after-null.test^", "||emptied.test^", "||after-empty.test^"};
    List<byte[]> lines = new ArrayList<>();
    for (String line : plain) lines.add(RuleFiles.stored(line));
    lines.addAll(Arrays.asList(bad, fourByte, surrogates, encodedNul,
        RuleFiles.stored("||after-invalid.test^")));
    LuService.initADRules(files.raw("first", lines.toArray(new byte[0][])),
        files.enciphered("second", "||sentinel.test^"));
    awaitBlocked("http://sentinel.test/");

    for (String site : new String[] {"before", "after-throw", "after-null", "after-empty",
        "after-invalid"}) {
      check(blocks("http://" + site + ".test/"), site + " was loaded");
    }
    for (String site : new String[] {"thrown", "nulled", "emptied"}) {
      check(!blocks("http://" + site + ".test/"), site + " was filed");
    }

    List<String> seen = new ArrayList<>();
    for (Codec.Call call : Codec.calls()) seen.add(call.stored);
    List<String> expected = new ArrayList<>();
    for (String line : plain) expected.add(Codec.encrypt(line));
    expected.add("\ud83d\ude00");  // surrogates are modified UTF-8: handed over
    expected.add("x\u0000y");      // and so is C0 80
    expected.add(Codec.encrypt("||after-invalid.test^"));
    expected.add(Codec.encrypt("||sentinel.test^"));
    checkEquals(expected, seen, "lines handed to decrypt");
  }

  /**
   * updateADRules replaces the rules (also as the first call), initADRules
   * adds to them, and a reload of two missing files leaves none.
   */
  static void update(RuleFiles files) throws Exception {
    checkNoRulesRequested();
    LuService.updateADRules(files.enciphered("a1", "||a.test^", "page.test##.a"),
        files.enciphered("a2", "||sentinel-a.test^"));
    awaitBlocked("http://sentinel-a.test/");
    check(blocks("http://a.test/"), "the first update loaded its rules");
    checkEquals(new String[] {".a"}, selectors("page.test"), "selectors after the first update");

    LuService.updateADRules(files.enciphered("b1", "||b.test^"),
        files.enciphered("b2", "page.test##.b", "||sentinel-b.test^"));
    awaitBlocked("http://sentinel-b.test/");
    check(!blocks("http://a.test/") && !blocks("http://sentinel-a.test/"),
        "the old rules are gone");
    check(blocks("http://b.test/"), "the new rules are in force");
    checkEquals(new String[] {".b"}, selectors("page.test"), "selectors after the second update");

    LuService.initADRules(files.enciphered("c1", "||b.test^"),
        files.enciphered("c2", "page.test##.b", "||sentinel-c.test^"));
    awaitBlocked("http://sentinel-c.test/");
    check(blocks("http://sentinel-b.test/"), "initADRules keeps the rules in place");
    checkEquals(new String[] {".b", ".b"}, selectors("page.test"), "initADRules adds its rules");

    LuService.updateADRules(files.missing("none1"), files.missing("none2"));
    // Only that reload can turn the rule off; once it has, nothing brings
    // a rule back.
    await(() -> !blocks("http://b.test/"), "the reload of two missing files started");
    check(selectors("page.test") == null, "selectors left after reloading nothing");
    // A load started now runs after that reload, which holds the engine.
    LuService.initADRules(files.enciphered("d1", "||sentinel-d.test^"), files.missing("none3"));
    awaitBlocked("http://sentinel-d.test/");
    check(!blocks("http://b.test/") && !blocks("http://sentinel-c.test/"),
        "a rule survived the reload of two missing files");
    check(selectors("page.test") == null, "selectors survived the reload of two missing files");
  }
}
