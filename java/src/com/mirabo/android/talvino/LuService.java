package com.mirabo.android.talvino;

/**
 * The host application's service class, as far as libquibex binds to it:
 * service start-up and the loading of the two rule files.
 */
public final class LuService {
  private LuService() {}

  /** Applies the proxy override file to the variable "proxy"; returns 0. */
  public static native int init();

  /** Starts loading both rule files in the background, adding to the rules in place. */
  public static native void initADRules(String firstPath, String secondPath);

  /** Starts replacing all rules with those of both files in the background. */
  public static native void updateADRules(String firstPath, String secondPath);
}
