package quibex.jvmbench;

import com.mirabo.android.talvino.Codec;
import com.mirabo.android.talvino.LuService;
import com.mirabo.handler.DefaultRequestHandler;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Set;
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
 * <p>Arguments: the shared data folder (with easylist.txt, easyprivacy.txt
 * and requests.json).
 */
public final class BridgeBenchmark {
  static final int PASSES = 5;
  static final String PROBE_URL = "https://www.google-analytics.com/analytics.js";

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
    System.loadLibrary("quibex");
    Path dir = Files.createTempDirectory("quibex-bench-");
    try {
      Path firstStored = encipher(first, dir.resolve("first"));
      Path secondStored = encipher(second, dir.resolve("second"));
      run(firstStored, secondStored, readWorkload(requests));
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

  static void run(Path first, Path second, List<Request> workload) throws Exception {
    DefaultRequestHandler handler = new DefaultRequestHandler();
    long start = System.nanoTime();
    LuService.initADRules(first.toString(), second.toString());
    while (!handler.shouldADBlock(PROBE_URL, null)) Thread.sleep(1);
    double loadMillis = (System.nanoTime() - start) / 1e6;

    long[] latencies = new long[workload.size() * PASSES];
    int at = 0;
    int blocked = 0;
    for (int pass = 0; pass <= PASSES; pass++) {  // pass 0 warms up
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
    Arrays.sort(latencies);
    double mean = Arrays.stream(latencies).average().orElse(0) / 1000.0;

    List<String> pages = new ArrayList<>();
    for (Request r : workload) {
      if (r.page == null) pages.add(r.url);
    }
    int selectors = 0;
    long selectorTime = 0;
    for (int pass = 0; pass <= PASSES; pass++) {
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

    System.out.println("| through the Java bridge | figure |");
    System.out.println("|---|---:|");
    System.out.printf("| load of both enciphered lists via initADRules (ms) | %.1f |%n", loadMillis);
    System.out.printf("| shouldADBlock mean (µs/request, %d requests, %d blocked) | %.3f |%n",
        workload.size(), blocked / PASSES, mean);
    System.out.printf("| shouldADBlock p50 / p90 / p99 (µs) | %.3f / %.3f / %.3f |%n",
        quantile(latencies, 0.50), quantile(latencies, 0.90), quantile(latencies, 0.99));
    System.out.printf("| getSelectorsForDomain mean (µs/page, %d pages, %d selectors) | %.3f |%n",
        pages.size(), selectors / PASSES,
        pages.isEmpty() ? 0.0 : selectorTime / 1000.0 / (PASSES * pages.size()));
  }

  static double quantile(long[] sorted, double q) {
    if (sorted.length == 0) return 0;
    return sorted[(int) Math.min(sorted.length - 1, Math.floor(q * sorted.length))] / 1000.0;
  }
}
