package com.mirabo.handler;

/**
 * The host application's proxy request handler, as far as libquibex binds
 * to it: the two questions asked of the filter engine.
 */
public class DefaultRequestHandler {
  /** Whether the request url, fetched for the page pageUrl (may be null), is blocked. */
  public native boolean shouldADBlock(String url, String pageUrl);

  /**
   * The element-hiding selectors for the page, or null when there are none.
   * referrerUrl may be null.
   */
  public native String[] getSelectorsForDomain(
      String pageAddress, String documentUrl, String referrerUrl);
}
