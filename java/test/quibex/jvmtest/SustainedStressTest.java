package quibex.jvmtest;

import static quibex.jvmtest.Checks.check;
import static quibex.jvmtest.Checks.checkEquals;

import com.mirabo.android.talvino.Codec;
import com.mirabo.android.talvino.LuService;
import com.mirabo.handler.DefaultRequestHandler;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.ThreadLocalRandom;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicLong;

/**
 * Thirty-two threads query for thirty seconds while another rewrites both
 * rule files and reloads them (updateADRules) or loads them on top
 * (initADRules) again and again. Every answer must be one that some rule
 * set the files ever held allows, or the answer given during a load; no
 * thread may hang; the JVM's JNI checks must stay silent. Prints the
 * latency percentiles of the queries.
 *
 * <p>Every version of the files blocks always.test, blocks and excepts
 * never.test (so it is never blocked), hides .s on page.test, and blocks
 * gen{N}.test for its own version N.
 */
public final class SustainedStressTest {
  static final int QUERY_THREADS = 32;
  static final long DEFAULT_SECONDS = 30;
  static final int SAMPLES_PER_THREAD = 1 << 18;

  private SustainedStressTest() {}

  public static void main(String[] args) {
    long seconds = args.length > 0 ? Long.parseLong(args[0]) : DEFAULT_SECONDS;
    Checks.main("sustained stress", () -> {
      System.loadLibrary("quibex");
      Path dir = Files.createTempDirectory("quibex-stress-");
      try {
        run(dir, seconds);
      } finally {
        try (var files = Files.list(dir)) {
          for (Path file : (Iterable<Path>) files::iterator) Files.deleteIfExists(file);
        }
        Files.deleteIfExists(dir);
      }
    });
  }

  /** Replaces a file in one step, as a host updating its lists should. */
  static void writeAtomically(Path file, String... plainLines) throws IOException {
    StringBuilder text = new StringBuilder();
    for (String line : plainLines) text.append(Codec.encrypt(line)).append('\n');
    Path temporary = file.resolveSibling(file.getFileName() + ".new");
    Files.write(temporary, text.toString().getBytes(StandardCharsets.US_ASCII));
    Files.move(temporary, file, StandardCopyOption.ATOMIC_MOVE,
        StandardCopyOption.REPLACE_EXISTING);
  }

  static void writeVersion(Path first, Path second, int version) throws IOException {
    writeAtomically(first, "||never.test^", "||always.test^", "page.test##.s",
        "||gen" + version + ".test^");
    writeAtomically(second, "@@||never.test^", "! version " + version);
  }

  static void run(Path dir, long seconds) throws Exception {
    Path first = dir.resolve("first.rules");
    Path second = dir.resolve("second.rules");
    // The newest version the files may hold.
    AtomicInteger written = new AtomicInteger(0);
    writeVersion(first, second, 0);
    LuService.initADRules(first.toString(), second.toString());

    AtomicBoolean stop = new AtomicBoolean();
    AtomicLong rounds = new AtomicLong();
    AtomicLong fromRules = new AtomicLong();
    ConcurrentLinkedQueue<String> errors = new ConcurrentLinkedQueue<>();
    long[][] samples = new long[QUERY_THREADS][SAMPLES_PER_THREAD];
    int[] sampleCounts = new int[QUERY_THREADS];
    List<Thread> threads = new ArrayList<>();
    for (int t = 0; t < QUERY_THREADS; t++) {
      final int index = t;
      Thread thread = new Thread(() -> {
        DefaultRequestHandler handler = new DefaultRequestHandler();
        long[] mine = samples[index];
        int count = 0;
        try {
          while (!stop.get()) {
            long start = System.nanoTime();
            boolean never = handler.shouldADBlock("http://never.test/x", "http://page.test/");
            long middle = System.nanoTime();
            boolean always = handler.shouldADBlock("http://always.test/x", null);
            int version = ThreadLocalRandom.current().nextInt(written.get() + 2);
            boolean generation = handler.shouldADBlock("http://gen" + version + ".test/", null);
            String[] selectors =
                handler.getSelectorsForDomain("page.test", "http://page.test/", null);
            long end = System.nanoTime();
            if (count + 1 < mine.length) {
              mine[count++] = middle - start;
              mine[count++] = end - middle;
            }
            if (never && errors.size() < 20) errors.add("never.test was blocked");
            if (generation && version > written.get() && errors.size() < 20) {
              errors.add("gen" + version + ".test blocked before any file held it");
            }
            if (selectors != null) {
              if (selectors.length == 0) errors.add("an empty selector array");
              for (String selector : selectors) {
                if (!".s".equals(selector)) errors.add("selector " + selector);
              }
              fromRules.incrementAndGet();
            }
            if (always) fromRules.incrementAndGet();
            rounds.incrementAndGet();
          }
        } catch (Throwable failure) {
          errors.add(failure.toString());
        }
        sampleCounts[index] = count;
      }, "query " + t);
      threads.add(thread);
      thread.start();
    }

    long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(seconds);
    int loads = 0;
    while (System.nanoTime() < deadline) {
      int version = written.get() + 1;
      written.set(version);  // before the files can hold it
      writeVersion(first, second, version);
      if (version % 5 == 0) {
        LuService.initADRules(first.toString(), second.toString());
      } else {
        LuService.updateADRules(first.toString(), second.toString());
      }
      loads++;
      Thread.sleep(10);
    }

    stop.set(true);
    Checks.joinAll(threads);
    checkEquals("[]", errors.toString(), "answers no rule set allows");
    check(rounds.get() >= QUERY_THREADS, "the query threads did not run");
    check(fromRules.get() > 0, "no query was answered from rules");

    int total = 0;
    for (int count : sampleCounts) total += count;
    long[] all = new long[total];
    int at = 0;
    for (int t = 0; t < QUERY_THREADS; t++) {
      System.arraycopy(samples[t], 0, all, at, sampleCounts[t]);
      at += sampleCounts[t];
    }
    Arrays.sort(all);
    System.out.printf("%d query rounds by %d threads in %d s during %d loads%n",
        rounds.get(), QUERY_THREADS, seconds, loads);
    System.out.printf("shouldADBlock latency over %d calls: p50 %.1f us, p90 %.1f us, "
            + "p99 %.1f us, max %.1f us%n",
        all.length, micros(all, 0.50), micros(all, 0.90), micros(all, 0.99),
        all.length == 0 ? 0.0 : all[all.length - 1] / 1000.0);
  }

  static double micros(long[] sorted, double quantile) {
    if (sorted.length == 0) return 0;
    int index = (int) Math.min(sorted.length - 1, Math.floor(quantile * sorted.length));
    return sorted[index] / 1000.0;
  }
}
