package quibex.jvmtest;

import static quibex.jvmtest.Checks.await;
import static quibex.jvmtest.Checks.check;
import static quibex.jvmtest.Checks.checkEquals;

import com.mirabo.android.talvino.Codec;
import com.mirabo.android.talvino.LuService;
import com.mirabo.handler.DefaultRequestHandler;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicLong;

/**
 * Sixteen threads query while another replaces the rules again and again:
 * no crash, no deadlock, and every answer is that of the old rule set, of
 * the new one, or the answer given during a load.
 */
public final class StressTest {
  static final int QUERY_THREADS = 16;
  static final int UPDATES = 100;
  static final String END_A = "! end of A";
  static final String END_B = "! end of B";
  static final String[] SELECTORS_A = {".a1", ".a2"};
  static final String[] SELECTORS_B = {".b1"};

  private StressTest() {}

  public static void main(String[] args) {
    Checks.main("stress", () -> {
      System.loadLibrary("quibex");
      try (RuleFiles files = new RuleFiles()) {
        run(files);
      }
    });
  }

  /** How many reloads have read their second file to the end. */
  static long finishedLoads() {
    return Codec.calls().stream()
        .filter(call -> END_A.equals(call.plain) || END_B.equals(call.plain))
        .count();
  }

  /** The rule set of the load that read its second file last. */
  static String[] lastLoadedSelectors() {
    List<Codec.Call> calls = Codec.calls();
    for (int i = calls.size() - 1; i >= 0; i--) {
      if (END_A.equals(calls.get(i).plain)) return SELECTORS_A;
      if (END_B.equals(calls.get(i).plain)) return SELECTORS_B;
    }
    throw new AssertionError("no load finished");
  }

  static void run(RuleFiles files) throws Exception {
    String a1 = files.enciphered("a1", "||a.test^", "page.test##.a1", "page.test##.a2");
    String a2 = files.enciphered("a2", "||both.test^", END_A);
    String b1 = files.enciphered("b1", "||b.test^");
    String b2 = files.enciphered("b2", "page.test##.b1", "||both.test^", END_B);
    LuService.updateADRules(a1, a2);
    await(() -> finishedLoads() == 1, "the first load");

    AtomicBoolean stop = new AtomicBoolean();
    AtomicLong answers = new AtomicLong();
    AtomicLong ruleAnswers = new AtomicLong();
    ConcurrentLinkedQueue<String> errors = new ConcurrentLinkedQueue<>();
    List<Thread> queries = new ArrayList<>();
    for (int t = 0; t < QUERY_THREADS; t++) {
      Thread thread = new Thread(() -> {
        DefaultRequestHandler handler = new DefaultRequestHandler();
        try {
          while (!stop.get()) {
            String[] selectors = handler.getSelectorsForDomain("page.test", "http://page.test/", null);
            boolean a = handler.shouldADBlock("http://a.test/x", "http://page.test/");
            handler.shouldADBlock("http://b.test/x", null);
            if (selectors != null && !Arrays.equals(selectors, SELECTORS_A)
                && !Arrays.equals(selectors, SELECTORS_B)) {
              errors.add("selectors " + Arrays.toString(selectors));
            }
            if (selectors != null) ruleAnswers.incrementAndGet();
            if (a) ruleAnswers.incrementAndGet();
            answers.incrementAndGet();
          }
        } catch (Throwable failure) {
          errors.add(failure.toString());
        }
      }, "query " + t);
      queries.add(thread);
      thread.start();
    }

    for (int i = 0; i < UPDATES; i++) {
      if (i % 2 == 0) {
        LuService.updateADRules(b1, b2);
      } else {
        LuService.updateADRules(a1, a2);
      }
      Thread.sleep(1);
    }
    await(() -> finishedLoads() == UPDATES + 1, "every reload ran to the end");
    String[] expected = lastLoadedSelectors();
    DefaultRequestHandler handler = new DefaultRequestHandler();
    await(() -> Arrays.equals(expected,
            handler.getSelectorsForDomain("page.test", "http://page.test/", null)),
        "the rules of the last reload in force");
    checkEquals(expected == SELECTORS_A, handler.shouldADBlock("http://a.test/x", null),
        "a.test after the last reload");
    checkEquals(expected == SELECTORS_B, handler.shouldADBlock("http://b.test/x", null),
        "b.test after the last reload");

    stop.set(true);
    Checks.joinAll(queries);
    checkEquals("[]", errors.toString(), "answers outside both rule sets");
    check(answers.get() >= QUERY_THREADS, "the query threads did not run");
    check(ruleAnswers.get() > 0, "no query was answered from rules");
    System.out.println(answers.get() + " query rounds, " + ruleAnswers.get()
        + " answered from rules, during " + UPDATES + " reloads");
  }
}
