package quibex.jvmtest;

import com.mirabo.android.talvino.Codec;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/**
 * Rule files in a temporary directory, removed on close. Lines are joined by
 * line feeds, with none after the last, so a file of n lines is n calls of
 * Codec.decrypt.
 */
final class RuleFiles implements AutoCloseable {
  private final Path dir;
  private final List<Path> written = new ArrayList<>();

  RuleFiles() throws IOException {
    dir = Files.createTempDirectory("quibex-jvm-");
  }

  /** Writes the plain lines enciphered with Codec.encrypt; returns the path. */
  String enciphered(String name, String... plainLines) throws IOException {
    byte[][] lines = new byte[plainLines.length][];
    for (int i = 0; i < plainLines.length; i++) lines[i] = stored(plainLines[i]);
    return raw(name, lines);
  }

  /** Writes the lines as given, byte for byte; returns the path. */
  String raw(String name, byte[]... lines) throws IOException {
    ByteArrayOutputStream out = new ByteArrayOutputStream();
    for (int i = 0; i < lines.length; i++) {
      if (i > 0) out.write('\n');
      out.write(lines[i]);
    }
    Path file = dir.resolve(name);
    Files.write(file, out.toByteArray());
    written.add(file);
    return file.toString();
  }

  /** A path in the directory where no file is. */
  String missing(String name) {
    return dir.resolve(name).toString();
  }

  /** The stored form of one plain line. */
  static byte[] stored(String plain) {
    return Codec.encrypt(plain).getBytes(StandardCharsets.US_ASCII);
  }

  @Override
  public void close() throws IOException {
    for (Path file : written) Files.deleteIfExists(file);
    Files.deleteIfExists(dir);
  }
}
