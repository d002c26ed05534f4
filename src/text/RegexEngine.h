#pragma once
// The matching engine behind the regular-expression objects: PCRE2 in 16-bit,
// non-UTF mode (one UTF-16 code unit is one character), set up to behave like
// the ECMAScript-style engine the program's patterns are written for.
//
// Like the engine it stands in for, it has four writable properties (pattern,
// ignore case, multiline, global) and three methods (Execute, Replace, Test).
// The pattern is compiled lazily on first use after a property changed; a
// pattern that does not compile, or a match that runs into PCRE2's limits, is
// an engine error: the method returns std::nullopt and the engine stays usable.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lanshu {

struct RegexMatch {
  std::size_t firstIndex = 0;  // 0-based UTF-16 offset in the subject
  std::u16string value;
  // One entry per capturing group of the pattern; an unset group is nullopt.
  std::vector<std::optional<std::u16string>> groups;
  std::vector<std::size_t> groupIndex;  // offsets of the set groups (0 for unset ones)
};

using RegexMatches = std::vector<RegexMatch>;

class RegexEngine {
 public:
  RegexEngine();
  ~RegexEngine();
  RegexEngine(const RegexEngine&) = delete;
  RegexEngine& operator=(const RegexEngine&) = delete;

  void SetPattern(const std::u16string& pattern);
  void SetIgnoreCase(bool on);
  void SetMultiline(bool on);
  void SetGlobal(bool on);
  const std::u16string& Pattern() const { return pattern_; }
  bool IgnoreCase() const { return ignoreCase_; }
  bool Multiline() const { return multiline_; }
  bool Global() const { return global_; }

  // Property writes so far: lets callers check that a repeated compile with
  // unchanged settings leaves the engine alone.
  int PatternWrites() const { return patternWrites_; }
  int OptionWrites() const { return optionWrites_; }

  // All matches (global) or the first one; nullopt on an engine error.
  std::optional<RegexMatches> Execute(const std::u16string& subject);

  // Replaces all matches (global) or the first one. Only the first searchEnd
  // units of the subject are searched; the rest (a terminator some callers
  // keep on the subject) is still part of the text after the last match and
  // of "$'". nullopt on an engine error.
  std::optional<std::u16string> Replace(const std::u16string& subject, const std::u16string& replacement,
                                        std::size_t searchEnd = std::u16string::npos);
  // The same into out (its storage reused); false on an engine error.
  bool ReplaceInto(const std::u16string& subject, const std::u16string& replacement, std::u16string& out,
                   std::size_t searchEnd = std::u16string::npos);

  // Whether the subject holds a match; nullopt on an engine error.
  std::optional<bool> Test(const std::u16string& subject);

 private:
  struct Compiled;
  const Compiled* Prepare();
  std::unique_ptr<Compiled> Compile() const;
  void Invalidate();

  std::u16string pattern_;
  bool ignoreCase_ = false;
  bool multiline_ = false;
  bool global_ = false;
  int patternWrites_ = 0;
  int optionWrites_ = 0;
  std::unique_ptr<Compiled> compiled_;  // null until first use after a change
};

}  // namespace lanshu
