package quibex.jvmtest;

import java.util.Arrays;
import java.util.Objects;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.FutureTask;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.TimeoutException;
import java.util.function.BooleanSupplier;

/** Assertions and bounded waits for the JVM tests, and their entry harness. */
final class Checks {
  /** Longest wait for a load to show its rules. */
  static final long LOAD_TIMEOUT_MILLIS = 30_000;
  /** Longest a query may take when it must not wait for a load. */
  static final long PROMPT_TIMEOUT_MILLIS = 5_000;

  private Checks() {}

  /** The body of one test program. */
  interface Body {
    void run() throws Exception;
  }

  /** Runs body; exits 0 when it returns, 1 with the failure when it throws. */
  static void main(String name, Body body) {
    int status = 0;
    try {
      body.run();
      System.out.println("PASS " + name);
    } catch (Throwable failure) {
      System.out.println("FAIL " + name);
      failure.printStackTrace(System.out);
      status = 1;
    }
    System.out.flush();
    System.exit(status);
  }

  static void check(boolean condition, String what) {
    if (!condition) throw new AssertionError(what);
  }

  static void checkEquals(Object expected, Object actual, String what) {
    if (!Objects.deepEquals(expected, actual)) {
      throw new AssertionError(what + ": expected " + show(expected) + ", got " + show(actual));
    }
  }

  static String show(Object value) {
    if (value instanceof Object[]) return Arrays.deepToString((Object[]) value);
    return String.valueOf(value);
  }

  /** Joins every thread within 30 s in all; a thread still alive is stuck. */
  static void joinAll(Iterable<Thread> threads) throws InterruptedException {
    long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(30);
    for (Thread thread : threads) {
      thread.join(Math.max(1, TimeUnit.NANOSECONDS.toMillis(deadline - System.nanoTime())));
      check(!thread.isAlive(), thread.getName() + " is stuck: deadlock");
    }
  }

  /** Polls condition until it holds; fails after LOAD_TIMEOUT_MILLIS. */
  static void await(BooleanSupplier condition, String what) throws InterruptedException {
    long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(LOAD_TIMEOUT_MILLIS);
    while (!condition.getAsBoolean()) {
      if (System.nanoTime() > deadline) throw new AssertionError("timed out waiting: " + what);
      Thread.sleep(2);
    }
  }

  /**
   * Runs call on a thread of its own and returns its result; fails when it
   * has not returned within PROMPT_TIMEOUT_MILLIS (it is waiting for
   * something it must not wait for).
   */
  static <T> T promptly(Callable<T> call, String what) throws Exception {
    FutureTask<T> task = new FutureTask<>(call);
    Thread thread = new Thread(task, "prompt query");
    thread.setDaemon(true);
    thread.start();
    try {
      return task.get(PROMPT_TIMEOUT_MILLIS, TimeUnit.MILLISECONDS);
    } catch (TimeoutException e) {
      throw new AssertionError(what + " did not answer at once");
    } catch (ExecutionException e) {
      throw new AssertionError(what + " failed", e.getCause());
    }
  }
}
