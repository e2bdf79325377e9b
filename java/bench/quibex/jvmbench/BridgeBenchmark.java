package quibex.jvmbench;

import com.mirabo.android.talvino.Codec;
import com.mirabo.android.talvino.LuService;
import com.mirabo.handler.DefaultRequestHandler;
import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.locks.LockSupport;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * The engine as the host application sees it: both real lists enciphered
 * with the test cipher and loaded through initADRules (so every line goes
 * through Codec.decrypt), then every request of the workload asked through
 * shouldADBlock and every page through getSelectorsForDomain. Prints
 * Markdown rows: the load time through the bridge and the latency of each
 * call, JNI conversions included.
 *
 * <p>Then reloads through updateADRules in three forms, so that the host's
 * cipher is not mistaken for the library's cost: the enciphered lists with
 * the test cipher; the plain lists with Codec's pass-through switch
 * (decrypt returns its argument); and the plain lists with every line made
 * a comment, pass-through, which leaves the bridge's own work per stored
 * line (line to Java string, the call, the answer back to bytes) and the
 * reading of the file, while the engine parses and files nothing.
 *
 * <p>Last, the natives' own cost per question: asked while a reload is held
 * inside decrypt, the engine turns every question away at once, so what is
 * timed is the call through JNI, the conversion of the arguments and the
 * loading check.
 *
 * <p>The questions are timed on two workloads: the short records of
 * requests.json with each distinct page asked alone, and the long-URL
 * workload of the native benchmarks, whose requests (URL and page) are read
 * from {@code quibex_decision_pass --list-long-pages}. The environment
 * variable QUIBEX_BRIDGE_RUNS (default 1) repeats the timing of the questions
 * that many times in the one JVM; each figure is then the median run's, with
 * the fastest and slowest runs beside it, and the quantiles are those of the
 * run with the median mean. Beside the mean of the timed calls stands the
 * thread's CPU time over the same passes per question (the timing calls
 * included), which leaves out the time the thread waited for a core on a
 * busy machine.
 *
 * <p>Arguments: the shared data folder (with easylist.txt, easyprivacy.txt
 * and requests.json), then optionally "--decision-pass=PATH", the
 * quibex_decision_pass executable (without it the long URLs are not timed),
 * and "reloads" to time the reloads alone (for comparing two builds of the
 * library run after run).
 */
public final class BridgeBenchmark {
  static final int PASSES = 5;
  static final int RELOADS = 5;
  static final int OWN_COST_PASSES = 50;
  static final String HELD_RULE = "||held.bench^";
  static final String PROBE_URL = "https://www.google-analytics.com/analytics.js";
  static final ThreadMXBean THREADS = ManagementFactory.getThreadMXBean();

  private BridgeBenchmark() {}

  /** One request of the workload. */
  static final class Request {
    final String url;
    final String page;

    Request(String url, String page) {
      this.url = url;
      this.page = page;
    }
  }

  public static void main(String[] args) throws Exception {
    Path data = Path.of(args.length > 0 ? args[0] : "../shared/data");
    Path first = data.resolve("easylist.txt");
    Path second = data.resolve("easyprivacy.txt");
    Path requests = data.resolve("requests.json");
    if (!Files.isReadable(first) || !Files.isReadable(second) || !Files.isReadable(requests)) {
      System.out.println("bridge benchmark skipped: no shared data at " + data);
      return;
    }
    boolean reloadsOnly = false;
    Path decisionPass = null;
    for (int i = 1; i < args.length; i++) {
      if (args[i].isEmpty()) {
        continue;  // the build passes "" when it has no quibex_decision_pass
      } else if (args[i].equals("reloads")) {
        reloadsOnly = true;
      } else if (args[i].startsWith("--decision-pass=")) {
        decisionPass = Path.of(args[i].substring("--decision-pass=".length()));
      } else {
        throw new IllegalArgumentException("unknown argument " + args[i]);
      }
    }
    int runs = runsFromEnvironment();
    System.loadLibrary("quibex");
    Path dir = Files.createTempDirectory("quibex-bench-");
    try {
      if (reloadsOnly) {
        reloads(first, second, dir);
        return;
      }
      Path firstStored = encipher(first, dir.resolve("first"));
      Path secondStored = encipher(second, dir.resolve("second"));
      List<Request> workload = readWorkload(requests);
      List<Request> longWorkload = decisionPass == null ? null : readLongWorkload(decisionPass);
      run(firstStored, secondStored, workload, longWorkload, runs);
      reloads(first, second, dir);
      ownCostPerQuestion(workload, dir);
    } finally {
      try (var files = Files.list(dir)) {
        for (Path file : (Iterable<Path>) files::iterator) Files.deleteIfExists(file);
      }
      Files.deleteIfExists(dir);
    }
  }

  /** Writes every line of a plain list enciphered, as the host stores it. */
  static Path encipher(Path plain, Path stored) throws IOException {
    StringBuilder out = new StringBuilder();
    for (String line : Files.readAllLines(plain, StandardCharsets.UTF_8)) {
      out.append(Codec.encrypt(line)).append('\n');
    }
    Files.write(stored, out.toString().getBytes(StandardCharsets.US_ASCII));
    return stored;
  }

  /** The request records (url, sourceUrl), then each distinct page alone. */
  static List<Request> readWorkload(Path json) throws IOException {
    String text = Files.readString(json, StandardCharsets.UTF_8);
    Pattern record = Pattern.compile(
        "\"sourceUrl\"\\s*:\\s*\"((?:[^\"\\\\]|\\\\.)*)\"[^{}]*?\"url\"\\s*:\\s*\"((?:[^\"\\\\]|\\\\.)*)\"");
    List<Request> out = new ArrayList<>();
    Set<String> pages = new LinkedHashSet<>();
    Matcher m = record.matcher(text);
    while (m.find()) {
      String page = unescape(m.group(1));
      out.add(new Request(unescape(m.group(2)), page));
      if (!page.isEmpty()) pages.add(page);
    }
    for (String page : pages) out.add(new Request(page, null));
    return out;
  }

  static String unescape(String s) {
    return s.replace("\\/", "/").replace("\\\"", "\"").replace("\\\\", "\\");
  }

  /**
   * The long-URL workload as the native benchmarks ask it: one "URL, tab,
   * page" line per request, printed by quibex_decision_pass. Null, with the
   * reason printed, when it prints none.
   */
  static List<Request> readLongWorkload(Path decisionPass) throws Exception {
    Process lister = new ProcessBuilder(decisionPass.toString(), "--list-long-pages")
        .redirectError(ProcessBuilder.Redirect.INHERIT)
        .start();
    List<Request> out = new ArrayList<>();
    String skipped = null;
    try (BufferedReader lines = new BufferedReader(
             new InputStreamReader(lister.getInputStream(), StandardCharsets.UTF_8))) {
      for (String line = lines.readLine(); line != null; line = lines.readLine()) {
        int tab = line.indexOf('\t');
        if (tab < 0) {
          skipped = line;
        } else {
          out.add(new Request(line.substring(0, tab), line.substring(tab + 1)));
        }
      }
    }
    int status = lister.waitFor();
    if (status != 0 || out.isEmpty()) {
      System.out.printf("long URLs not timed: %s --list-long-pages %s%n", decisionPass,
          status != 0 ? "exited with status " + status : "printed " + skipped);
      return null;
    }
    return out;
  }

  /** QUIBEX_BRIDGE_RUNS, the number of timing runs of the questions (at least 1). */
  static int runsFromEnvironment() {
    String value = System.getenv("QUIBEX_BRIDGE_RUNS");
    if (value == null || value.isEmpty()) return 1;
    int runs = Integer.parseInt(value.trim());
    if (runs < 1) throw new IllegalArgumentException("QUIBEX_BRIDGE_RUNS must be at least 1");
    return runs;
  }

  /** The latencies of one timing run over a workload: every question of PASSES passes. */
  static final class Run {
    final long[] sorted;  // nanoseconds, ascending
    final double mean;  // µs
    final double cpuMean;  // the thread's CPU time over the passes per question, µs
    final int blocked;  // per pass

    Run(long[] sorted, long cpuNanos, int blocked) {
      this.sorted = sorted;
      this.mean = Arrays.stream(sorted).average().orElse(0) / 1000.0;
      this.cpuMean = sorted.length == 0 ? 0 : cpuNanos / 1000.0 / sorted.length;
      this.blocked = blocked;
    }
  }

  /** One warm-up pass, then PASSES timed passes of shouldADBlock over the workload. */
  static Run timeRequests(DefaultRequestHandler handler, List<Request> workload) {
    long[] latencies = new long[workload.size() * PASSES];
    int at = 0;
    int blocked = 0;
    long cpuStart = 0;
    for (int pass = 0; pass <= PASSES; pass++) {  // pass 0 warms up
      if (pass == 1) cpuStart = THREADS.getCurrentThreadCpuTime();
      for (Request r : workload) {
        long t0 = System.nanoTime();
        boolean answer = handler.shouldADBlock(r.url, r.page);
        long t1 = System.nanoTime();
        if (pass > 0) {
          latencies[at++] = t1 - t0;
          if (answer) blocked++;
        }
      }
    }
    long cpuNanos = THREADS.getCurrentThreadCpuTime() - cpuStart;
    Arrays.sort(latencies);
    return new Run(latencies, cpuNanos, blocked / PASSES);
  }

  /** The run of the median mean (the upper one of an even count). */
  static Run medianRun(List<Run> runs) {
    List<Run> byMean = new ArrayList<>(runs);
    byMean.sort((a, b) -> Double.compare(a.mean, b.mean));
    return byMean.get(byMean.size() / 2);
  }

  /** The median of values, then the range when there is more than one. */
  static String medianWithRange(double[] values) {
    double[] sorted = values.clone();
    Arrays.sort(sorted);
    String median = String.format("%.3f", sorted[sorted.length / 2]);
    if (sorted.length == 1) return median;
    return String.format("%s (%.3f to %.3f)", median, sorted[0], sorted[sorted.length - 1]);
  }

  /**
   * The median time between two back-to-back System.nanoTime() reads: each timed question's
   * latency carries about this much of the clock's own cost.
   */
  static long timerOverheadNanos() {
    long[] gaps = new long[100_000];
    for (int i = 0; i < gaps.length; i++) {
      long t0 = System.nanoTime();
      long t1 = System.nanoTime();
      gaps[i] = t1 - t0;
    }
    Arrays.sort(gaps);
    return gaps[gaps.length / 2];
  }

  /** The mean row and the quantile row of shouldADBlock over one workload. */
  static void printRequestRows(String workloadName, List<Run> runs, int requests, String ofRuns) {
    Run median = medianRun(runs);
    double[] means = runs.stream().mapToDouble(r -> r.mean).toArray();
    System.out.printf("| shouldADBlock mean%s (µs/request, %d requests, %d blocked%s) | %s |%n",
        workloadName, requests, median.blocked, ofRuns, medianWithRange(means));
    double[] cpuMeans = runs.stream().mapToDouble(r -> r.cpuMean).toArray();
    System.out.printf("| shouldADBlock thread CPU time per request%s (µs%s) | %s |%n",
        workloadName, ofRuns, medianWithRange(cpuMeans));
    System.out.printf("| shouldADBlock p50 / p90 / p99%s (µs%s) | %.3f / %.3f / %.3f |%n",
        workloadName, runs.size() > 1 ? ", the median run" : "", quantile(median.sorted, 0.50),
        quantile(median.sorted, 0.90), quantile(median.sorted, 0.99));
  }

  static void run(Path first, Path second, List<Request> workload, List<Request> longWorkload,
      int runs) throws Exception {
    DefaultRequestHandler handler = new DefaultRequestHandler();
    long start = System.nanoTime();
    LuService.initADRules(first.toString(), second.toString());
    while (!handler.shouldADBlock(PROBE_URL, null)) Thread.sleep(1);
    double loadMillis = (System.nanoTime() - start) / 1e6;

    List<String> pages = new ArrayList<>();
    for (Request r : workload) {
      if (r.page == null) pages.add(r.url);
    }
    // Each run times both workloads and the pages back to back, so that a
    // busy spell of the machine weighs on all three alike.
    List<Run> shortRuns = new ArrayList<>();
    List<Run> longRuns = new ArrayList<>();
    double[] selectorMeans = new double[runs];
    int selectors = 0;
    for (int run = 0; run < runs; run++) {
      shortRuns.add(timeRequests(handler, workload));
      if (longWorkload != null) longRuns.add(timeRequests(handler, longWorkload));
      selectors = 0;
      long selectorTime = 0;
      for (int pass = 0; pass <= PASSES; pass++) {  // pass 0 warms up
        for (String page : pages) {
          long t0 = System.nanoTime();
          String[] found = handler.getSelectorsForDomain(page, page, null);
          long t1 = System.nanoTime();
          if (pass > 0) {
            selectorTime += t1 - t0;
            if (found != null) selectors += found.length;
          }
        }
      }
      selectorMeans[run] =
          pages.isEmpty() ? 0.0 : selectorTime / 1000.0 / (PASSES * pages.size());
    }

    String ofRuns = runs > 1 ? String.format(", median of %d runs", runs) : "";
    System.out.println("| through the Java bridge | figure |");
    System.out.println("|---|---:|");
    System.out.printf("| load of both enciphered lists via initADRules (ms) | %.1f |%n", loadMillis);
    printRequestRows("", shortRuns, workload.size(), ofRuns);
    if (longWorkload != null) {
      printRequestRows(", long URLs", longRuns, longWorkload.size(), ofRuns);
      System.out.printf("| long URLs against short records, mean per request (the medians) | %.2f× |%n",
          medianRun(longRuns).mean / medianRun(shortRuns).mean);
    }
    System.out.printf("| getSelectorsForDomain mean (µs/page, %d pages, %d selectors%s) | %s |%n",
        pages.size(), selectors / PASSES, ofRuns, medianWithRange(selectorMeans));
    System.out.printf("| the clock's own cost in each timed question (ns, median of back-to-back"
        + " System.nanoTime() reads) | %d |%n", timerOverheadNanos());
  }

  /** How the lines of a reload are stored, and which Codec mode reads them. */
  enum Form {
    CIPHER("test cipher", false),
    PLAIN("pass-through Codec", true),
    COMMENTS("pass-through Codec, every line a comment", true);

    final String label;
    final boolean passThrough;

    Form(String label, boolean passThrough) {
      this.label = label;
      this.passThrough = passThrough;
    }

    String store(String line) {
      switch (this) {
        case CIPHER:
          return Codec.encrypt(line);
        case COMMENTS:
          return "!" + line;
        default:
          return line;
      }
    }
  }

  /**
   * Median reload time of each form, and what it comes to per stored line.
   * Each reload's second file ends with a sentinel rule of its own parity,
   * so that waiting for the sentinel to block waits for that reload: the
   * rules of the reload before it carry the other sentinel.
   */
  static void reloads(Path first, Path second, Path dir) throws Exception {
    List<String> firstLines = Files.readAllLines(first, StandardCharsets.UTF_8);
    List<String> secondLines = Files.readAllLines(second, StandardCharsets.UTF_8);
    // Each file ends with a line feed, after which the reader finds one more
    // (empty) line: it too goes through the bridge.
    int storedLines = firstLines.size() + 1 + secondLines.size() + 1 + 1;
    DefaultRequestHandler handler = new DefaultRequestHandler();
    double[] medians = new double[Form.values().length];
    for (Form form : Form.values()) {
      Path[] firstFile = new Path[2];
      Path[] secondFile = new Path[2];
      for (int parity = 0; parity < 2; parity++) {
        firstFile[parity] = write(firstLines, form, null, dir.resolve(form + "-1-" + parity));
        secondFile[parity] = write(secondLines, form, sentinelRule(parity),
            dir.resolve(form + "-2-" + parity));
      }
      Codec.passThrough = form.passThrough;
      double[] times = new double[RELOADS];
      // One reload more than measured: the first one clears the rules of
      // another form.
      for (int i = 0; i <= RELOADS; i++) {
        int parity = i % 2;
        String sentinel = sentinelUrl(parity);
        long start = System.nanoTime();
        LuService.updateADRules(firstFile[parity].toString(), secondFile[parity].toString());
        while (!handler.shouldADBlock(sentinel, null)) LockSupport.parkNanos(50_000);
        if (i > 0) times[i - 1] = (System.nanoTime() - start) / 1e6;
      }
      Codec.passThrough = false;
      Arrays.sort(times);
      medians[form.ordinal()] = times[RELOADS / 2];
    }
    System.out.println();
    System.out.printf("| reload of both lists via updateADRules, %d stored lines, median of %d"
        + " | ms | µs per stored line |%n", storedLines, RELOADS);
    System.out.println("|---|---:|---:|");
    for (Form form : Form.values()) {
      double ms = medians[form.ordinal()];
      System.out.printf("| %s | %.1f | %.3f |%n", form.label, ms, ms * 1000 / storedLines);
    }
    double cipher = medians[Form.CIPHER.ordinal()] - medians[Form.PLAIN.ordinal()];
    System.out.printf("| the test cipher alone (test cipher minus pass-through) | %.1f | %.3f |%n",
        cipher, cipher * 1000 / storedLines);
  }

  /** Best pass of the questions while the engine is loading; see the class comment. */
  static void ownCostPerQuestion(List<Request> workload, Path dir) throws Exception {
    Path held = dir.resolve("held");
    Files.write(held, (Codec.encrypt(HELD_RULE) + "\n").getBytes(StandardCharsets.US_ASCII));
    Codec.holdOn = HELD_RULE;
    LuService.updateADRules(held.toString(), held.toString());
    if (!Codec.awaitHeld(60_000)) {
      System.out.println("natives' own cost not measured: the reload never reached decrypt");
      return;
    }
    DefaultRequestHandler handler = new DefaultRequestHandler();
    List<String> pages = new ArrayList<>();
    for (Request r : workload) {
      if (r.page == null) pages.add(r.url);
    }
    double bestRequest = Double.MAX_VALUE;
    double bestPage = Double.MAX_VALUE;
    int answered = 0;
    for (int pass = 0; pass < OWN_COST_PASSES; pass++) {
      long t0 = System.nanoTime();
      for (Request r : workload) {
        if (handler.shouldADBlock(r.url, r.page)) answered++;
      }
      long t1 = System.nanoTime();
      for (String page : pages) {
        if (handler.getSelectorsForDomain(page, page, null) != null) answered++;
      }
      long t2 = System.nanoTime();
      bestRequest = Math.min(bestRequest, (t1 - t0) / (double) workload.size());
      bestPage = Math.min(bestPage, (t2 - t1) / (double) Math.max(1, pages.size()));
    }
    Codec.release();
    System.out.println();
    System.out.printf("| the natives' own cost per question, asked during a load (best of %d"
        + " passes) | ns |%n", OWN_COST_PASSES);
    System.out.println("|---|---:|");
    System.out.printf("| shouldADBlock | %.1f |%n", bestRequest);
    System.out.printf("| getSelectorsForDomain | %.1f |%n", bestPage);
    if (answered != 0) System.out.println("(unexpected: " + answered + " answers during a load)");
  }

  static String sentinelRule(int parity) {
    return "||sentinel-" + parity + ".bench^";
  }

  static String sentinelUrl(int parity) {
    return "http://sentinel-" + parity + ".bench/";
  }

  /** Writes the lines in the given form, then the extra rule if any, stored the same way. */
  static Path write(List<String> lines, Form form, String extra, Path stored) throws IOException {
    StringBuilder out = new StringBuilder();
    for (String line : lines) out.append(form.store(line)).append('\n');
    if (extra != null) {
      out.append(form == Form.COMMENTS ? extra : form.store(extra)).append('\n');
    }
    Files.write(stored, out.toString().getBytes(StandardCharsets.UTF_8));
    return stored;
  }

  static double quantile(long[] sorted, double q) {
    if (sorted.length == 0) return 0;
    return sorted[(int) Math.min(sorted.length - 1, Math.floor(q * sorted.length))] / 1000.0;
  }
}
