// Whether a browser accepts a text as a CSS selector list. A host applies
// all selectors of a page as one style rule, and a browser drops a whole
// style rule when one selector in it is invalid; so one rejected selector
// switches element hiding off for every page it is served on.
//
// The check follows the CSS tokenizer and the selector grammar a current
// browser engine implements: type, universal, id, class and attribute
// selectors, the four combinators, the pseudo-classes and pseudo-elements
// it knows (with :is, :where, :not, :has, the nth- family and their
// arguments), and rejects everything else: other syntaxes' scriptlets
// ("+js(...)"), procedural pseudo-classes (":has-text", ":-abp-has",
// ":xpath", ...), unbalanced brackets, parentheses or quotes, and empty
// selectors.
#ifndef QUIBEX_TOOLS_QUIBEX_CSS_SELECTOR_H_
#define QUIBEX_TOOLS_QUIBEX_CSS_SELECTOR_H_

#include <string>
#include <string_view>

namespace quibex::tool {

// Why a browser rejects selector as a selector list, in a few words (such
// as "the pseudo-class \":has-text\" is unknown"), or "" when it accepts
// it.
std::string rejectedSelector(std::string_view selector);

}  // namespace quibex::tool

#endif  // QUIBEX_TOOLS_QUIBEX_CSS_SELECTOR_H_
