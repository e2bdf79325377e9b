package com.mirabo.android.talvino;

/** The host application's request class, as far as libquibex binds to it. */
public final class JReq {
  private JReq() {}

  /** A new copy of the certificate keystore image stored in the library. */
  public static native byte[] getCert();
}
