// LineDecoder: the seam through which the rule loader turns each stored
// (enciphered) line of a rule file into its plain text. The Java bridge
// implements it by calling back into Java; tools and tests use
// PassThroughDecoder, whose plain text is the stored line itself.
#ifndef QUIBEX_ENGINE_LINE_DECODER_H_
#define QUIBEX_ENGINE_LINE_DECODER_H_

#include <string>
#include <string_view>

namespace quibex {

// Calling order, on the loading thread, once per rule file:
//   beginFile(), then decryptLine() once per line, then endFile().
//
// Thread-safety: one file is decoded at a time (loads are serialised by the
// engine mutex), but successive files may be decoded on different threads.
class LineDecoder {
 public:
  virtual ~LineDecoder() = default;

  // Prepares to decode the lines of one file. If it throws, the file is
  // not read and endFile() is not called.
  virtual void beginFile() = 0;

  // Decodes one stored line. REQUIRES: line.data()[line.size()] == '\0'.
  // Returns true and stores the plain text in *plain, or false when the
  // line has no plain text (it is then skipped). An empty plain text is
  // skipped as well.
  virtual bool decryptLine(std::string_view line, std::string* plain) = 0;

  // True when every plain text is the stored line itself, and an empty
  // line has none: the reader then hands each line on without calling
  // decryptLine() or copying it.
  virtual bool passesThrough() const { return false; }

  // Ends the file begun by the matching beginFile(). Called exactly once
  // for every beginFile() that returned, however reading ended, from a
  // destructor: it must not throw.
  virtual void endFile() = 0;
};

// Brackets the decoding of one file: beginFile() when made, endFile() when
// it goes out of scope, however reading ends. The Java bridge's endFile
// detaches the loading thread from the VM, which must happen even when
// reading stops early: a native thread that ends while attached aborts the
// Android runtime.
class DecodedFile {
 public:
  // REQUIRES: decoder outlives this object.
  explicit DecodedFile(LineDecoder& decoder) : decoder_(decoder) {
    decoder_.beginFile();
  }
  ~DecodedFile() { decoder_.endFile(); }
  DecodedFile(const DecodedFile&) = delete;
  DecodedFile& operator=(const DecodedFile&) = delete;

 private:
  LineDecoder& decoder_;  // the decoder whose file this is
};

// A decoder for plain rule files: the plain text is the line itself; an
// empty line has none.
class PassThroughDecoder final : public LineDecoder {
 public:
  void beginFile() override {}
  bool decryptLine(std::string_view line, std::string* plain) override {
    if (line.empty()) return false;
    plain->assign(line.data(), line.size());
    return true;
  }
  void endFile() override {}
  bool passesThrough() const override { return true; }
};

}  // namespace quibex

#endif  // QUIBEX_ENGINE_LINE_DECODER_H_
