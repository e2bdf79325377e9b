// The selector check; see css_selector.h. A tokenizer after the CSS syntax
// (identifiers, functions, hashes, strings, numbers, delimiters and
// blocks, with escapes and comments), then a recursive parser of selector
// lists over the tokens.
#include "tools/quibex/css_selector.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/quibex/output.h"

namespace quibex::tool {
namespace {

enum class Kind {
  kIdent,
  kFunction,  // an identifier followed by "("
  kAtKeyword,
  kHash,
  kString,
  kNumber,
  kPercentage,
  kDimension,
  kDelim,
  kWhitespace,
  kColon,
  kSemicolon,
  kComma,
  kOpenBracket,
  kCloseBracket,
  kOpenParen,
  kCloseParen,
  kOpenBrace,
  kCloseBrace,
  kCdo,  // "<!--"
  kCdc,  // "-->"
};

struct Token {
  Kind kind;
  std::string value;     // name, string or number text, lower-cased for names
  char delim = 0;        // the character of a kDelim
  bool idHash = false;   // a kHash whose name is an identifier
  bool integer = false;  // a kNumber or kDimension without "." or exponent
};

// Pseudo-classes without arguments that the browser knows.
constexpr const char* kPseudoClasses[] = {
    "active", "active-view-transition", "any-link", "autofill", "checked",
    "current", "default", "defined", "disabled", "empty", "enabled",
    "first-child", "first-of-type", "focus", "focus-visible", "focus-within",
    "fullscreen", "future", "host", "hover", "in-range", "indeterminate",
    "invalid", "last-child", "last-of-type", "link", "modal", "only-child",
    "only-of-type", "open", "optional", "out-of-range", "past",
    "picture-in-picture", "placeholder-shown", "popover-open", "read-only",
    "read-write", "required", "root", "scope", "target", "target-current",
    "user-invalid", "user-valid", "valid", "visited", "xr-overlay",
    // The scrollbar's, accepted anywhere though they match only there.
    "corner-present", "decrement", "double-button", "end", "horizontal",
    "increment", "no-button", "single-button", "start", "vertical",
    "window-inactive", "-webkit-any-link", "-webkit-autofill", "-webkit-drag",
    "-webkit-full-screen", "-webkit-full-screen-ancestor",
    "-webkit-full-page-media"};

// Pseudo-classes of the scrollbar's pseudo-elements
// ("::-webkit-scrollbar...", "::-webkit-resizer"); other "::-webkit-..."
// pseudo-elements take the user-action pseudo-classes only.
constexpr const char* kScrollbarPseudoClasses[] = {"active",
                                                   "corner-present",
                                                   "decrement",
                                                   "double-button",
                                                   "end",
                                                   "horizontal",
                                                   "hover",
                                                   "increment",
                                                   "no-button",
                                                   "single-button",
                                                   "start",
                                                   "vertical",
                                                   "window-inactive"};

// Procedural pseudo-classes of other rule syntaxes, which run script in
// the blocker rather than match in the browser.
constexpr const char* kProceduralPseudoClasses[] = {"-abp-contains",
                                                    "-abp-has",
                                                    "-abp-properties",
                                                    "contains",
                                                    "has-text",
                                                    "if",
                                                    "if-not",
                                                    "matches-attr",
                                                    "matches-css",
                                                    "matches-css-after",
                                                    "matches-css-before",
                                                    "matches-media",
                                                    "matches-path",
                                                    "matches-prop",
                                                    "min-text-length",
                                                    "nth-ancestor",
                                                    "others",
                                                    "remove",
                                                    "remove-attr",
                                                    "remove-class",
                                                    "style",
                                                    "upward",
                                                    "watch-attr",
                                                    "xpath"};

// The pseudo-classes other "::-webkit-..." pseudo-elements take.
constexpr const char* kUserActionPseudoClasses[] = {
    "active", "focus", "focus-visible", "focus-within", "hover"};

// Pseudo-elements that may also be written with a single colon.
constexpr const char* kLegacyPseudoElements[] = {"after", "before",
                                                 "first-letter", "first-line"};

// Pseudo-elements without arguments.
constexpr const char* kPseudoElements[] = {
    "after",           "backdrop",
    "before",          "checkmark",
    "column",          "cue",
    "details-content", "file-selector-button",
    "first-letter",    "first-line",
    "grammar-error",   "marker",
    "picker-icon",     "placeholder",
    "scroll-marker",   "scroll-marker-group",
    "selection",       "spelling-error",
    "target-text",     "view-transition"};

bool oneOf(const std::string& name, const char* const* begin,
           const char* const* end) {
  return std::find_if(begin, end, [&name](const char* known) {
           return name == known;
         }) != end;
}

template <size_t N>
bool oneOf(const std::string& name, const char* const (&names)[N]) {
  return oneOf(name, names, names + N);
}

bool isNameStart(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
         c >= 0x80;
}
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool isName(unsigned char c) {
  return isNameStart(c) || isDigit(c) || c == '-';
}
bool isHex(unsigned char c) {
  return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool isSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

// Cuts a selector into tokens. Returns false with a reason for text that
// cannot stand in a style rule: an unterminated string or comment.
class Tokenizer {
 public:
  explicit Tokenizer(std::string_view text) : text_(text) {}

  bool run(std::vector<Token>* tokens, std::string* why) {
    while (pos_ < text_.size()) {
      if (text_.compare(pos_, 2, "/*") == 0) {
        const size_t end = text_.find("*/", pos_ + 2);
        if (end == std::string_view::npos) {
          *why = "a comment is not closed";
          return false;
        }
        pos_ = end + 2;
        continue;
      }
      Token token{Kind::kDelim, ""};
      if (!next(&token, why)) return false;
      tokens->push_back(std::move(token));
    }
    return true;
  }

 private:
  unsigned char at(size_t i) const {
    return i < text_.size() ? static_cast<unsigned char>(text_[i]) : 0;
  }
  bool validEscape(size_t i) const {
    return at(i) == '\\' && i + 1 < text_.size() && at(i + 1) != '\n';
  }
  bool identStart(size_t i) const {
    if (at(i) == '-') {
      return (i + 1 < text_.size() &&
              (isNameStart(at(i + 1)) || at(i + 1) == '-')) ||
             validEscape(i + 1);
    }
    return (i < text_.size() && isNameStart(at(i))) || validEscape(i);
  }
  bool numberStart(size_t i) const {
    if (at(i) == '+' || at(i) == '-') ++i;
    if (isDigit(at(i))) return true;
    return at(i) == '.' && isDigit(at(i + 1));
  }
  // An escape after its "\": its code point's bytes appended to *out.
  void escape(std::string* out) {
    if (isHex(at(pos_))) {
      uint32_t code = 0;
      for (int n = 0; n < 6 && isHex(at(pos_)); ++n, ++pos_) {
        const unsigned char c = at(pos_);
        code =
            code * 16 +
            (isDigit(c) ? c - '0' : (lower(static_cast<char>(c)) - 'a' + 10));
      }
      if (isSpace(at(pos_))) ++pos_;
      // The code point itself matters only for names compared with
      // ASCII words; anything else stands for "some character".
      out->push_back(code < 0x80 && code != 0 ? static_cast<char>(code)
                                              : '\x80');
      return;
    }
    if (pos_ < text_.size()) {
      out->push_back(text_[pos_++]);
    } else {
      out->push_back('\x80');  // "\" at the end stands for U+FFFD
    }
  }
  std::string name() {
    std::string out;
    for (;;) {
      if (pos_ < text_.size() && isName(at(pos_))) {
        out.push_back(text_[pos_++]);
      } else if (validEscape(pos_)) {
        ++pos_;
        escape(&out);
      } else {
        return out;
      }
    }
  }
  static std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), lower);
    return text;
  }

  bool next(Token* token, std::string* why) {
    const unsigned char c = at(pos_);
    if (isSpace(c)) {
      while (pos_ < text_.size() && isSpace(at(pos_))) ++pos_;
      token->kind = Kind::kWhitespace;
      return true;
    }
    if (c == '"' || c == '\'') return string(c, token, why);
    if (c == '#') {
      if (pos_ + 1 < text_.size() &&
          (isName(at(pos_ + 1)) || validEscape(pos_ + 1))) {
        token->idHash = identStart(pos_ + 1);
        ++pos_;
        token->kind = Kind::kHash;
        token->value = name();
        return true;
      }
      return delim(token);
    }
    if (numberStart(pos_)) return number(token);
    if (text_.compare(pos_, 3, "-->") == 0) {
      pos_ += 3;
      token->kind = Kind::kCdc;
      return true;
    }
    if (identStart(pos_)) return identLike(token);
    if (c == '@' && identStart(pos_ + 1)) {
      ++pos_;
      token->kind = Kind::kAtKeyword;
      token->value = name();
      return true;
    }
    if (text_.compare(pos_, 4, "<!--") == 0) {
      pos_ += 4;
      token->kind = Kind::kCdo;
      return true;
    }
    static const struct {
      char c;
      Kind kind;
    } kSingles[] = {{':', Kind::kColon},        {';', Kind::kSemicolon},
                    {',', Kind::kComma},        {'[', Kind::kOpenBracket},
                    {']', Kind::kCloseBracket}, {'(', Kind::kOpenParen},
                    {')', Kind::kCloseParen},   {'{', Kind::kOpenBrace},
                    {'}', Kind::kCloseBrace}};
    for (const auto& single : kSingles) {
      if (c == static_cast<unsigned char>(single.c)) {
        ++pos_;
        token->kind = single.kind;
        return true;
      }
    }
    return delim(token);
  }
  bool delim(Token* token) {
    token->kind = Kind::kDelim;
    token->delim = text_[pos_++];
    return true;
  }
  bool string(unsigned char quote, Token* token, std::string* why) {
    ++pos_;
    token->kind = Kind::kString;
    while (pos_ < text_.size()) {
      const unsigned char c = at(pos_);
      if (c == quote) {
        ++pos_;
        return true;
      }
      if (c == '\n') break;
      if (c == '\\') {
        ++pos_;
        if (pos_ < text_.size()) token->value.push_back(text_[pos_++]);
        continue;
      }
      token->value.push_back(text_[pos_++]);
    }
    *why = std::string("a string opened with ") +
           (quote == '"' ? "'\"'" : "\"'\"") + " is not closed";
    return false;
  }
  bool number(Token* token) {
    const size_t start = pos_;
    bool integer = true;
    if (at(pos_) == '+' || at(pos_) == '-') ++pos_;
    while (isDigit(at(pos_))) ++pos_;
    if (at(pos_) == '.' && isDigit(at(pos_ + 1))) {
      integer = false;
      pos_ += 2;
      while (isDigit(at(pos_))) ++pos_;
    }
    if ((at(pos_) == 'e' || at(pos_) == 'E') &&
        (isDigit(at(pos_ + 1)) ||
         ((at(pos_ + 1) == '+' || at(pos_ + 1) == '-') &&
          isDigit(at(pos_ + 2))))) {
      integer = false;
      pos_ += 2;
      while (isDigit(at(pos_))) ++pos_;
    }
    token->value = std::string(text_.substr(start, pos_ - start));
    token->integer = integer;
    if (identStart(pos_)) {
      token->kind = Kind::kDimension;
      token->value += lowered(name());
    } else if (at(pos_) == '%') {
      ++pos_;
      token->kind = Kind::kPercentage;
    } else {
      token->kind = Kind::kNumber;
    }
    return true;
  }
  bool identLike(Token* token) {
    token->value = lowered(name());
    if (at(pos_) == '(') {
      ++pos_;
      token->kind = Kind::kFunction;
    } else {
      token->kind = Kind::kIdent;
    }
    return true;
  }

  std::string_view text_;
  size_t pos_ = 0;
};

bool opens(Kind kind) {
  return kind == Kind::kFunction || kind == Kind::kOpenParen ||
         kind == Kind::kOpenBracket || kind == Kind::kOpenBrace;
}
bool closes(Kind kind) {
  return kind == Kind::kCloseParen || kind == Kind::kCloseBracket ||
         kind == Kind::kCloseBrace;
}
Kind closerOf(Kind kind) {
  return kind == Kind::kOpenBracket ? Kind::kCloseBracket
         : kind == Kind::kOpenBrace ? Kind::kCloseBrace
                                    : Kind::kCloseParen;
}
const char* closerText(Kind kind) {
  return kind == Kind::kCloseBracket ? "\"]\""
         : kind == Kind::kCloseBrace ? "\"}\""
                                     : "\")\"";
}

// Deepest nesting of blocks followed; deeper selectors are judged
// rejected rather than followed, so no input can exhaust the stack.
constexpr size_t kMaxNesting = 256;

// Unbalanced brackets, parentheses and braces: in a style rule they would
// swallow what follows. On success *closers[i] is, for each token that
// opens a block, the index of the token that closes it.
bool checkBlocks(const std::vector<Token>& tokens, std::vector<size_t>* closers,
                 std::string* why) {
  closers->assign(tokens.size(), tokens.size());
  std::vector<size_t> open;  // indexes of the blocks still open
  for (size_t i = 0; i < tokens.size(); ++i) {
    const Kind kind = tokens[i].kind;
    if (opens(kind)) {
      if (open.size() == kMaxNesting) {
        *why = "its blocks nest more than " + std::to_string(kMaxNesting) +
               " deep, past what this check follows";
        return false;
      }
      open.push_back(i);
    } else if (closes(kind)) {
      const Kind expected =
          open.empty() ? kind
                       : closerOf(tokens[open.back()].kind == Kind::kFunction
                                      ? Kind::kOpenParen
                                      : tokens[open.back()].kind);
      if (open.empty() || expected != kind) {
        *why = std::string("a ") + closerText(kind) +
               " closes nothing that was opened";
        return false;
      }
      (*closers)[open.back()] = i;
      open.pop_back();
    }
  }
  if (!open.empty()) {
    const Kind last = tokens[open.back()].kind;
    *why = std::string("a ") +
           closerText(
               closerOf(last == Kind::kFunction ? Kind::kOpenParen : last)) +
           " is missing";
    return false;
  }
  return true;
}

// What a selector list may hold.
enum class ListKind {
  kComplex,   // complex selectors (the top level, :not)
  kRelative,  // relative selectors (:has)
  kCompound,  // compound selectors (:-webkit-any, :host, :host-context)
};

// A recursive parser of the selector grammar over a token range.
class SelectorParser {
 public:
  // REQUIRES: closers as checkBlocks() made it for tokens.
  SelectorParser(const std::vector<Token>& tokens,
                 const std::vector<size_t>& closers)
      : t_(tokens), closers_(closers) {}

  // Parses [begin, end) as a selector list of kind; false with *why.
  bool list(size_t begin, size_t end, ListKind kind, bool insideHas,
            std::string* why) {
    size_t pos = begin;
    for (;;) {
      size_t stop = pos;
      while (stop < end && t_[stop].kind != Kind::kComma) {
        stop = opens(t_[stop].kind) ? closingOf(stop) + 1 : stop + 1;
      }
      if (!complex(pos, stop, kind, insideHas, why)) return false;
      if (stop == end) return true;
      pos = stop + 1;
    }
  }

  // Parses [begin, end) as a forgiving list (:is, :where): an invalid
  // member is dropped rather than rejected.
  void forgivingList(size_t begin, size_t end, bool insideHas) {
    std::string ignored;
    size_t pos = begin;
    while (pos < end) {
      size_t stop = pos;
      while (stop < end && t_[stop].kind != Kind::kComma) {
        stop = opens(t_[stop].kind) ? closingOf(stop) + 1 : stop + 1;
      }
      complex(pos, stop, ListKind::kComplex, insideHas, &ignored);
      pos = stop + 1;
    }
  }

 private:
  bool space(size_t pos, size_t end) const {
    return pos < end && t_[pos].kind == Kind::kWhitespace;
  }
  bool delimAt(size_t pos, size_t end, char c) const {
    return pos < end && t_[pos].kind == Kind::kDelim && t_[pos].delim == c;
  }
  bool combinatorAt(size_t pos, size_t end) const {
    return delimAt(pos, end, '>') || delimAt(pos, end, '+') ||
           delimAt(pos, end, '~');
  }

  bool complex(size_t pos, size_t end, ListKind kind, bool insideHas,
               std::string* why) {
    while (space(pos, end)) ++pos;
    while (end > pos && t_[end - 1].kind == Kind::kWhitespace) --end;
    if (pos == end) {
      *why = "a selector is empty";
      return false;
    }
    if (combinatorAt(pos, end)) {
      if (kind != ListKind::kRelative) {
        *why = "it begins with the combinator " +
               quoted(std::string(1, t_[pos].delim));
        return false;
      }
      ++pos;
      while (space(pos, end)) ++pos;
    }
    for (;;) {
      bool pseudoElement = false;
      if (!compound(&pos, end, insideHas, &pseudoElement, why)) return false;
      if (pos == end) return true;
      if (pseudoElement) {
        *why = "a combinator follows a pseudo-element";
        return false;
      }
      if (kind == ListKind::kCompound) {
        *why = "a combinator stands where only a compound selector may";
        return false;
      }
      bool sawSpace = false;
      while (space(pos, end)) {
        ++pos;
        sawSpace = true;
      }
      if (combinatorAt(pos, end)) {
        ++pos;
        while (space(pos, end)) ++pos;
        if (pos == end) {
          *why = "it ends with a combinator";
          return false;
        }
      } else if (!sawSpace) {
        *why = unexpected(pos);
        return false;
      }
    }
  }

  std::string unexpected(size_t pos) const {
    const Token& token = t_[pos];
    switch (token.kind) {
      case Kind::kDelim:
        return quoted(std::string(1, token.delim)) +
               " stands where no selector may";
      case Kind::kOpenBrace:
      case Kind::kCloseBrace:
        return "it carries a style declaration in braces, which ends the "
               "selector in a style rule";
      case Kind::kString:
        return "a string stands outside an attribute selector";
      case Kind::kNumber:
      case Kind::kDimension:
      case Kind::kPercentage:
        return "a number stands where a selector is expected";
      case Kind::kHash:
        return "the id " + quoted("#" + token.value) +
               " does not begin like a name";
      default:
        return "it does not follow the selector grammar";
    }
  }

  // The type selector or "*", with an optional namespace prefix.
  bool typeSelector(size_t* pos, size_t end, std::string* why) {
    size_t p = *pos;
    const auto nameAt = [&](size_t i) {
      return i < end && (t_[i].kind == Kind::kIdent || delimAt(i, end, '*'));
    };
    if (delimAt(p, end, '|') && nameAt(p + 1)) {
      *pos = p + 2;  // "|name": no namespace
      return true;
    }
    if (!nameAt(p)) return true;
    if (delimAt(p + 1, end, '|') && nameAt(p + 2)) {
      if (!delimAt(p, end, '*')) {
        *why =
            "the namespace prefix " + quoted(t_[p].value) + " is not declared";
        return false;
      }
      *pos = p + 3;
      return true;
    }
    *pos = p + 1;
    return true;
  }

  // Sets *hadPseudoElement when the compound ends in a pseudo-element.
  bool compound(size_t* pos, size_t end, bool insideHas, bool* hadPseudoElement,
                std::string* why) {
    const size_t start = *pos;
    if (!typeSelector(pos, end, why)) return false;
    bool pseudoElement = false;
    bool webkitElement = false;     // a "::-webkit-..." pseudo-element
    bool scrollbarElement = false;  // one of the scrollbar's
    bool markerAllowed = false;     // after ::before or ::after
    while (*pos < end) {
      const Token& token = t_[*pos];
      if (token.kind == Kind::kWhitespace || combinatorAt(*pos, end)) break;
      // After a pseudo-element: :is() and :where() (which match nothing
      // there), ::marker after ::before or ::after, and the pseudo-classes
      // the "::-webkit-..." ones take.
      if (pseudoElement) {
        const Token* next = *pos + 1 < end ? &t_[*pos + 1] : nullptr;
        if (token.kind == Kind::kColon && next != nullptr &&
            next->kind == Kind::kFunction &&
            (next->value == "is" || next->value == "where")) {
          forgivingList(*pos + 2, closingOf(*pos + 1), insideHas);
          *pos = closingOf(*pos + 1) + 1;
          continue;
        }
        if (token.kind == Kind::kColon && markerAllowed && next != nullptr &&
            next->kind == Kind::kColon && *pos + 2 < end &&
            t_[*pos + 2].kind == Kind::kIdent &&
            t_[*pos + 2].value == "marker") {
          markerAllowed = false;
          *pos += 3;
          continue;
        }
        if (!(webkitElement && token.kind == Kind::kColon)) {
          *why = "a simple selector follows a pseudo-element";
          return false;
        }
      }
      if (token.kind == Kind::kHash) {
        if (!token.idHash) {
          *why = unexpected(*pos);
          return false;
        }
        ++*pos;
      } else if (delimAt(*pos, end, '&')) {
        ++*pos;  // the nesting selector, the scope at the top level
      } else if (delimAt(*pos, end, '.')) {
        if (*pos + 1 >= end || t_[*pos + 1].kind != Kind::kIdent) {
          *why = "a \".\" is not followed by a class name";
          return false;
        }
        *pos += 2;
      } else if (token.kind == Kind::kOpenBracket) {
        if (!attribute(pos, why)) return false;
      } else if (token.kind == Kind::kColon && webkitElement) {
        const bool known =
            *pos + 1 < end && t_[*pos + 1].kind == Kind::kIdent &&
            (scrollbarElement
                 ? oneOf(t_[*pos + 1].value, kScrollbarPseudoClasses)
                 : oneOf(t_[*pos + 1].value, kUserActionPseudoClasses));
        if (!known) {
          *why =
              "a pseudo-element is followed by a pseudo-class it does "
              "not take";
          return false;
        }
        *pos += 2;
      } else if (token.kind == Kind::kColon) {
        bool element = false;
        if (!pseudo(pos, end, insideHas, &element, why)) return false;
        if (element && (insideHas || inArgument_ > 0)) {
          *why = "a pseudo-element stands inside a pseudo-class's argument";
          return false;
        }
        if (element && !pseudoElement) {
          const std::string& name = t_[*pos - 1].value;
          webkitElement = name.rfind("-webkit-", 0) == 0;
          scrollbarElement = name.rfind("-webkit-scrollbar", 0) == 0 ||
                             name == "-webkit-resizer";
          markerAllowed = name == "before" || name == "after";
        }
        pseudoElement = pseudoElement || element;
      } else {
        *why = unexpected(*pos);
        return false;
      }
    }
    if (*pos == start) {
      *why = *pos < end ? unexpected(*pos) : "a selector is empty";
      return false;
    }
    *hadPseudoElement = pseudoElement;
    return true;
  }

  bool attribute(size_t* pos, std::string* why) {
    const size_t close = closingOf(*pos);
    size_t p = *pos + 1;
    const auto skip = [&] {
      while (space(p, close)) ++p;
    };
    skip();
    // [ns|name], [*|name], [|name] or [name].
    if (delimAt(p, close, '|')) {
      ++p;
    } else if ((delimAt(p, close, '*') ||
                (p < close && t_[p].kind == Kind::kIdent)) &&
               delimAt(p + 1, close, '|') && p + 2 < close &&
               t_[p + 2].kind == Kind::kIdent) {
      if (!delimAt(p, close, '*')) {
        *why =
            "the namespace prefix " + quoted(t_[p].value) + " is not declared";
        return false;
      }
      p += 2;
    }
    if (p >= close || t_[p].kind != Kind::kIdent) {
      *why = "an attribute selector has no attribute name";
      return false;
    }
    ++p;
    skip();
    if (p < close) {
      if (delimAt(p, close, '=')) {
        ++p;
      } else if (p + 1 < close && t_[p].kind == Kind::kDelim &&
                 std::string_view("~|^$*").find(t_[p].delim) !=
                     std::string_view::npos &&
                 delimAt(p + 1, close, '=')) {
        p += 2;
      } else {
        *why = "an attribute selector has no valid operator";
        return false;
      }
      skip();
      if (p >= close ||
          (t_[p].kind != Kind::kIdent && t_[p].kind != Kind::kString)) {
        *why = "an attribute selector's value is neither a name nor a string";
        return false;
      }
      ++p;
      skip();
      if (p < close && t_[p].kind == Kind::kIdent && t_[p].value == "i") {
        ++p;
        skip();
      }
      if (p < close) {
        *why = "an attribute selector has more after its value";
        return false;
      }
    }
    *pos = close + 1;
    return true;
  }

  // An+B, "odd" or "even" in [begin, end), optionally followed by
  // "of S" where ofAllowed.
  bool nth(size_t begin, size_t end, bool ofAllowed, std::string* why) {
    std::string text;  // the tokens' text without blanks
    size_t p = begin;
    while (space(p, end)) ++p;
    for (; p < end; ++p) {
      const Token& token = t_[p];
      if (token.kind == Kind::kIdent && token.value == "of" && ofAllowed) break;
      if (token.kind == Kind::kWhitespace) {
        // A sign that begins the argument belongs to what follows it.
        if (text == "+" || text == "-") {
          *why = "an nth- argument has a blank after its leading sign";
          return false;
        }
        continue;
      }
      if (token.kind == Kind::kIdent || token.kind == Kind::kNumber ||
          token.kind == Kind::kDimension) {
        if (token.kind != Kind::kIdent && !token.integer) {
          *why = "an nth- argument has a number that is not an integer";
          return false;
        }
        text += token.value;
      } else if (delimAt(p, end, '+') || delimAt(p, end, '-')) {
        text += token.delim;
      } else {
        *why = "an nth- argument is not of the form An+B";
        return false;
      }
    }
    if (!validAnPlusB(text)) {
      *why = "an nth- argument is not of the form An+B";
      return false;
    }
    if (p < end) {  // "of S"
      ++p;
      if (!space(p, end)) {
        *why = "an nth- argument's \"of\" is not followed by a blank";
        return false;
      }
      return list(p, end, ListKind::kComplex, false, why);
    }
    return true;
  }

  static bool validAnPlusB(const std::string& text) {
    if (text == "odd" || text == "even") return true;
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const size_t digits = i;
    while (i < text.size() && isDigit(static_cast<unsigned char>(text[i]))) ++i;
    if (i == text.size()) return i > digits;  // B alone
    if (text[i] != 'n') return false;
    ++i;
    if (i == text.size()) return true;  // An
    if (text[i] != '+' && text[i] != '-') return false;
    ++i;
    const size_t b = i;
    while (i < text.size() && isDigit(static_cast<unsigned char>(text[i]))) ++i;
    return i == text.size() && i > b;
  }

  bool pseudo(size_t* pos, size_t end, bool insideHas, bool* element,
              std::string* why) {
    size_t p = *pos + 1;
    const bool doubleColon = p < end && t_[p].kind == Kind::kColon;
    if (doubleColon) ++p;
    if (p >= end ||
        (t_[p].kind != Kind::kIdent && t_[p].kind != Kind::kFunction)) {
      *why = "a \":\" is not followed by a pseudo-class name";
      return false;
    }
    const Token& token = t_[p];
    const std::string& name = token.value;
    const std::string shown = (doubleColon ? "::" : ":") + name;
    if (token.kind == Kind::kIdent) {
      *pos = p + 1;
      if (doubleColon) {
        *element = true;
        if (oneOf(name, kPseudoElements) || name.rfind("-webkit-", 0) == 0) {
          return true;
        }
        *why = "the pseudo-element " + quoted(shown) + " is unknown";
        return false;
      }
      if (oneOf(name, kLegacyPseudoElements)) {
        *element = true;
        return true;
      }
      if (oneOf(name, kPseudoClasses)) return true;
      *why = "the pseudo-class " + quoted(shown) +
             (oneOf(name, kProceduralPseudoClasses)
                  ? " is a procedural pseudo-class of another rule syntax, "
                    "which no browser knows"
                  : " is unknown");
      return false;
    }
    const size_t close = closingOf(p);
    *pos = close + 1;
    const size_t begin = p + 1;
    if (doubleColon) {
      *element = true;
      if (name == "part" || name == "highlight" || name == "slotted" ||
          name == "cue" || name == "picker" || name == "scroll-button" ||
          name.rfind("view-transition-", 0) == 0) {
        return arguments(begin, close, name == "slotted" || name == "cue",
                         shown, why);
      }
      *why = "the pseudo-element " + quoted(shown + "()") + " is unknown";
      return false;
    }
    if (name == "is" || name == "where") {
      forgivingList(begin, close, insideHas);
      return true;
    }
    if (name == "not") {
      return argumentList(begin, close, ListKind::kComplex, insideHas, why);
    }
    if (name == "has") {
      if (insideHas) {
        *why = "\":has()\" stands inside \":has()\"";
        return false;
      }
      return list(begin, close, ListKind::kRelative, true, why);
    }
    if (name == "-webkit-any" || name == "host" || name == "host-context") {
      return argumentList(begin, close, ListKind::kCompound, insideHas, why);
    }
    if (name == "nth-child" || name == "nth-last-child" ||
        name == "nth-of-type" || name == "nth-last-of-type") {
      return nth(begin, close, name == "nth-child" || name == "nth-last-child",
                 why);
    }
    if (name == "lang" || name == "dir" || name == "state") {
      return arguments(begin, close, false, shown, why);
    }
    *why = "the pseudo-class " + quoted(shown + "()") +
           (oneOf(name, kProceduralPseudoClasses)
                ? " is a procedural pseudo-class of another rule syntax, "
                  "which no browser knows"
                : " is unknown");
    return false;
  }

  // A selector list as a pseudo-class's argument, where pseudo-elements
  // may not stand.
  bool argumentList(size_t begin, size_t end, ListKind kind, bool insideHas,
                    std::string* why) {
    ++inArgument_;
    const bool valid = list(begin, end, kind, insideHas, why);
    --inArgument_;
    return valid;
  }

  // The argument of :lang(), :dir(), :state(), ::part(), ::highlight():
  // names (or strings for :lang), or for ::slotted() and ::cue() a
  // compound selector.
  bool arguments(size_t begin, size_t end, bool selector,
                 const std::string& shown, std::string* why) {
    if (selector) {
      return argumentList(begin, end, ListKind::kCompound, false, why);
    }
    size_t p = begin;
    size_t names = 0;
    for (; p < end; ++p) {
      const Kind kind = t_[p].kind;
      if (kind == Kind::kWhitespace || kind == Kind::kComma) continue;
      if (kind != Kind::kIdent && kind != Kind::kString) break;
      ++names;
    }
    if (p < end || names == 0) {
      *why = "the argument of " + quoted(shown + "()") + " is not a name";
      return false;
    }
    return true;
  }

  // The index of the token that closes the block opened at open.
  size_t closingOf(size_t open) const { return closers_[open]; }

  const std::vector<Token>& t_;         // the selector's tokens
  int inArgument_ = 0;                  // argumentList() calls under way
  const std::vector<size_t>& closers_;  // closing token of each opening one
};

}  // namespace

std::string rejectedSelector(std::string_view selector) {
  if (selector.substr(0, 4) == "+js(") {
    return "it is a scriptlet of another rule syntax (\"+js(...)\"), not a "
           "selector";
  }
  std::vector<Token> tokens;
  std::string why;
  if (!Tokenizer(selector).run(&tokens, &why)) return why;
  std::vector<size_t> closers;
  if (!checkBlocks(tokens, &closers, &why)) return why;
  if (selector.find('\0') != std::string_view::npos) {
    return "it has a NUL byte";
  }
  SelectorParser parser(tokens, closers);
  if (!parser.list(0, tokens.size(), ListKind::kComplex, false, &why)) {
    return why;
  }
  return "";
}

}  // namespace quibex::tool
