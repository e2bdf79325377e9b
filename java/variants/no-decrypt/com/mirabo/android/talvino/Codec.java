package com.mirabo.android.talvino;

/**
 * A Codec without the decrypt method, for the JVM test of a host
 * application that lacks it: the library must still load and answer.
 */
public final class Codec {
  private Codec() {}

  /** Not the method the library looks for: the wrong signature. */
  public static byte[] decrypt(byte[] stored) {
    return stored;
  }
}
