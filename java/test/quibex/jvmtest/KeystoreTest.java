package quibex.jvmtest;

import static quibex.jvmtest.Checks.check;
import static quibex.jvmtest.Checks.checkEquals;

import com.mirabo.android.talvino.JReq;
import com.mirabo.android.talvino.LuService;
import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.security.KeyStore;
import java.security.cert.Certificate;
import java.security.cert.X509Certificate;
import java.security.interfaces.RSAPublicKey;
import java.util.Arrays;
import java.util.Collections;
import org.bouncycastle.jce.provider.BouncyCastleProvider;

/**
 * The keystore image of JReq.getCert, read as the host application reads it:
 * a Bouncy Castle "BKS" keystore with the documented password, holding one
 * X.509 certificate. Also the service start-up call.
 */
public final class KeystoreTest {
  static final String PASSWORD = "quibex-trust";
  static final String ALIAS = "quibex";
  // The image's MAC key has only 2 bytes, so a wrong password fails only
  // with a probability of 65535/65536; the generator checks this one fails.
  static final String WRONG_PASSWORD = "not-the-password";
  static final int IMAGE_LENGTH = 1529;

  private KeystoreTest() {}

  public static void main(String[] args) {
    Checks.main("keystore", () -> {
      System.loadLibrary("quibex");
      checkEquals(0, LuService.init(), "LuService.init");

      byte[] first = JReq.getCert();
      byte[] second = JReq.getCert();
      check(first != null && second != null, "getCert returned null");
      check(first != second, "getCert returned the same array twice");
      checkEquals(IMAGE_LENGTH, first.length, "image length");
      check(Arrays.equals(first, second), "two copies differ");
      first[0] ^= 1;
      check(Arrays.equals(second, JReq.getCert()), "a caller's change reached the library");
      first[0] ^= 1;

      KeyStore store = KeyStore.getInstance("BKS", new BouncyCastleProvider());
      store.load(new ByteArrayInputStream(first), PASSWORD.toCharArray());
      checkEquals(Collections.singletonList(ALIAS), Collections.list(store.aliases()), "aliases");
      check(store.isCertificateEntry(ALIAS), "the entry is not a certificate entry");
      Certificate certificate = store.getCertificate(ALIAS);
      checkEquals("X.509", certificate.getType(), "certificate type");
      X509Certificate x509 = (X509Certificate) certificate;
      checkEquals(x509.getSubjectX500Principal(), x509.getIssuerX500Principal(), "self-issued");
      x509.verify(x509.getPublicKey());
      x509.checkValidity();
      checkEquals("SHA256withRSA", x509.getSigAlgName(), "signature algorithm");
      checkEquals(4096, ((RSAPublicKey) x509.getPublicKey()).getModulus().bitLength(), "key size");
      checkEquals(1444, x509.getEncoded().length, "certificate length");

      KeyStore wrong = KeyStore.getInstance("BKS", new BouncyCastleProvider());
      boolean refused = false;
      try {
        wrong.load(new ByteArrayInputStream(first), WRONG_PASSWORD.toCharArray());
      } catch (IOException expected) {
        refused = true;
      }
      check(refused, "the keystore opened with a wrong password");
    });
  }
}
