// Output helpers; see output.h.
#include "tools/quibex/output.h"

#include <cstdio>

namespace quibex::tool {

void writeOut(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

BlockOutput::BlockOutput() : block_(new char[kBlockBytes]) {}

void BlockOutput::flush() {
  if (used_ > 0) writeOut(std::string_view(block_.get(), used_));
  used_ = 0;
  std::fflush(stdout);
}

void BlockOutput::appendLarge(std::string_view text) {
  if (used_ > 0) writeOut(std::string_view(block_.get(), used_));
  used_ = 0;
  if (text.size() >= kBlockBytes) {
    writeOut(text);
  } else {
    append(text);
  }
}

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

std::string quoted(std::string_view text) {
  return "\"" + printable(text) + "\"";
}

std::string orNone(std::string_view text) {
  return text.empty() ? std::string("(none)") : printable(text);
}

std::string counted(size_t count, std::string_view singular,
                    std::string_view plural) {
  return std::to_string(count) + " " +
         std::string(count == 1 ? singular : plural);
}

void writeField(std::string_view label, std::string_view value, size_t width,
                size_t indent) {
  std::string line(indent, ' ');
  line.append(label);
  line += ':';
  if (label.size() < width) line.append(width - label.size(), ' ');
  line += ' ';
  line.append(value);
  line += '\n';
  writeOut(line);
}

std::string formatDuration(double seconds) {
  char text[32];
  if (seconds < 1e-6) {
    std::snprintf(text, sizeof text, "%.0f ns", seconds * 1e9);
  } else if (seconds < 1e-3) {
    std::snprintf(text, sizeof text, "%.2f us", seconds * 1e6);
  } else if (seconds < 1.0) {
    std::snprintf(text, sizeof text, "%.2f ms", seconds * 1e3);
  } else {
    std::snprintf(text, sizeof text, "%.2f s", seconds);
  }
  return text;
}

std::string formatBytes(double bytes) {
  char text[32];
  if (bytes < 1024) {
    std::snprintf(text, sizeof text, "%.0f B", bytes);
  } else if (bytes < 1024 * 1024) {
    std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024);
  } else {
    std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024 * 1024));
  }
  return text;
}

}  // namespace quibex::tool
