package com.mirabo.android.talvino;

import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Base64;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/**
 * Stand-in for the host application's rule-line cipher, as libquibex calls
 * it: {@code static String decrypt(String)}, once per stored line, on the
 * library's loading thread.
 *
 * <p>The test cipher: the UTF-8 bytes of a line, each XORed with a repeating
 * key, then Base64. A line that is not Base64 cannot be deciphered (null).
 *
 * <p>Switches let a test make decrypt misbehave for one plain text: throw,
 * return null, return "", or wait until released. Every call is recorded
 * with the thread it ran on. With {@link #passThrough} set, decrypt returns
 * its argument and does nothing else, so a benchmark can tell the library's
 * own cost per line from the cipher's.
 */
public final class Codec {
  private static final byte[] KEY = "quibex-test-key".getBytes(StandardCharsets.US_ASCII);

  /** One call of decrypt: the stored line, its plain text and the thread. */
  public static final class Call {
    public final String stored;
    public final String plain;
    public final Thread thread;

    Call(String stored, String plain, Thread thread) {
      this.stored = stored;
      this.plain = plain;
      this.thread = thread;
    }
  }

  /** decrypt throws for this plain text. */
  public static volatile String throwOn;
  /** decrypt returns null for this plain text. */
  public static volatile String nullOn;
  /** decrypt returns "" for this plain text. */
  public static volatile String emptyOn;
  /** decrypt waits for {@link #release()} on this plain text. */
  public static volatile String holdOn;
  /** decrypt returns the stored line itself, unrecorded: plain files load as they are. */
  public static volatile boolean passThrough;

  private static final List<Call> calls = new ArrayList<>();
  private static volatile CountDownLatch held = new CountDownLatch(1);
  private static volatile CountDownLatch released = new CountDownLatch(1);

  private Codec() {}

  /** Enciphers one plain rule line. */
  public static String encrypt(String plain) {
    return Base64.getEncoder().encodeToString(xor(plain.getBytes(StandardCharsets.UTF_8)));
  }

  /** Deciphers one stored rule line; called by libquibex. */
  public static String decrypt(String stored) {
    if (passThrough) return stored;
    String plain;
    try {
      plain = new String(xor(Base64.getDecoder().decode(stored)), StandardCharsets.UTF_8);
    } catch (IllegalArgumentException notBase64) {
      plain = null;
    }
    synchronized (calls) {
      calls.add(new Call(stored, plain, Thread.currentThread()));
    }
    if (plain == null) return null;
    if (plain.equals(holdOn)) {
      held.countDown();
      try {
        released.await(60, TimeUnit.SECONDS);
      } catch (InterruptedException e) {
        Thread.currentThread().interrupt();
      }
    }
    if (plain.equals(throwOn)) throw new IllegalStateException("decrypt refused " + plain);
    if (plain.equals(nullOn)) return null;
    if (plain.equals(emptyOn)) return "";
    return plain;
  }

  /** A copy of the calls recorded so far, in order. */
  public static List<Call> calls() {
    synchronized (calls) {
      return new ArrayList<>(calls);
    }
  }

  /** Waits until decrypt is held at {@link #holdOn}; false on timeout. */
  public static boolean awaitHeld(long millis) throws InterruptedException {
    return held.await(millis, TimeUnit.MILLISECONDS);
  }

  /** Lets a held decrypt go on, and re-arms the hold for later use. */
  public static void release() {
    holdOn = null;
    CountDownLatch wasReleased = released;
    held = new CountDownLatch(1);
    released = new CountDownLatch(1);
    wasReleased.countDown();
  }

  private static byte[] xor(byte[] bytes) {
    byte[] out = new byte[bytes.length];
    for (int i = 0; i < bytes.length; i++) out[i] = (byte) (bytes[i] ^ KEY[i % KEY.length]);
    return out;
  }
}
