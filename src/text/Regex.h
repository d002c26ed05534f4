#pragma once
// Regular-expression objects over the program's GBK texts.
//
// Each object holds one matching engine (RegexEngine), the match collection of
// its last Execute and, depending on the class, its last pattern and options,
// the match count or the last subject. Match and group indices are 1-based; an
// index out of range gives the empty text or 0. Nothing throws: an engine error
// (bad pattern, runaway match) gives the operation's empty value.
//
// Copies share the engine and the match collection and own their texts.
#include <memory>
#include <optional>
#include <string>

#include "text/RegexEngine.h"

namespace lanshu {

// The engine with its last pattern and options. Option bits of Compile: 1 =
// ignore case, 2 = multiline, 4 = global; each is set when its flag is false.
class RegexCore {
 public:
  RegexCore();

  // Always true. Sends nothing to the engine when pattern and options equal the
  // last ones; an empty pattern keeps the previous one and changes only the
  // options.
  bool Compile(const std::string& pattern, bool caseSensitive = false, bool singleLine = false,
               bool firstOnly = false);
  // Number of matches; 0 on an engine error, with the held collection emptied.
  int Execute(const std::string& subject);
  int CompileAndExecute(const std::string& pattern, const std::string& subject, bool caseSensitive = false,
                        bool singleLine = false, bool firstOnly = false);
  int Count() const;
  // j <= 0: match i; j >= 1: group j of match i. nullopt when absent (no such
  // match or group, or the group did not take part in the match).
  std::optional<std::u16string> MatchValue(int i, int j) const;
  std::string MatchText(int i, int j = 0) const;
  std::string SubMatchText(int i, int j) const;
  // With a pattern given, Compile runs first with it and the flags. Does not
  // change the held collection. Empty text on an engine error.
  std::string Replace(const std::string& subject, const std::string& replacement = std::string(),
                      const std::optional<std::string>& pattern = std::nullopt, bool caseSensitive = false,
                      bool singleLine = false, bool firstOnly = false);
  bool Test(const std::string& subject);
  std::string Pattern() const { return pattern_; }
  // Groups of the first match (0 when there is none).
  int SubMatchCount() const;
  // In UTF-16 units: j <= 0 the whole match i, j >= 1 its group j.
  int MatchLength(int i, int j) const;
  // j >= 1: bytes of group j of match i in GBK. j <= 0: the UTF-16 length of
  // the whole match, the same as MatchLength.
  int MatchByteLength(int i, int j) const;

  const RegexEngine& Engine() const { return *engine_; }

 private:
  std::shared_ptr<RegexEngine> engine_;
  std::shared_ptr<const RegexMatches> matches_;
  int options_ = 0;
  std::string pattern_;
};

// The class the page parsers use: options in the natural sense, on by default.
class RegexObject {
 public:
  static std::string EscapeWildcard(const std::string& text);  // "*" any run, "?" at most one character
  static std::string EscapeAll(const std::string& text);
  static std::string EscapeKeepBar(const std::string& text);  // "|" stays alternation

  std::string MatchText(int i) const { return core_.MatchText(i, 0); }
  std::string SubMatchText(int i, int j) const { return core_.SubMatchText(i, j); }
  int Execute(const std::string& subject) { return core_.Execute(subject); }
  std::string Replace(const std::string& subject, const std::string& replacement) {
    return core_.Replace(subject, replacement);
  }
  bool Compile(const std::string& pattern, bool ignoreCase = true, bool multiline = true, bool global = true) {
    return core_.Compile(pattern, !ignoreCase, !multiline, !global);
  }
  std::string Pattern() const { return core_.Pattern(); }
  int Count() const { return core_.Count(); }
  int SubMatchCount() const { return core_.SubMatchCount(); }

  const RegexCore& Core() const { return core_; }

 private:
  RegexCore core_;
};

// Self-contained variant that keeps the match count of its last Execute.
class RegexLite {
 public:
  // Replaces the engine by a fresh one with these settings; true.
  bool Create(const std::string& pattern, bool ignoreCase = true, bool multiline = true, bool global = true);
  std::string Pattern() const;  // empty before Create
  std::string Replace(const std::string& subject, const std::string& replacement);
  int Execute(const std::string& subject);
  int Count() const { return count_; }
  std::string MatchText(int i) const;
  std::string SubMatchText(int i, int j) const;  // j >= 1 only
  int SubMatchCount() const;

 private:
  std::shared_ptr<RegexEngine> engine_;
  std::shared_ptr<const RegexMatches> matches_;
  int count_ = 0;
};

// Self-contained variant that converts through code page 936 with the
// terminating zero and can report byte positions of matches in its last
// subject.
class RegexGbk {
 public:
  static std::string EscapeWildcard(const std::string& text) { return RegexObject::EscapeWildcard(text); }
  static std::string EscapeAll(const std::string& text) { return RegexObject::EscapeAll(text); }
  static std::string EscapeKeepBar(const std::string& text) { return RegexObject::EscapeKeepBar(text); }

  // Drops engine, collection and kept subject.
  void Reset();
  // Replaces the engine by a fresh one with these settings; true.
  bool Create(const std::string& pattern, bool ignoreCase = true, bool multiline = true, bool global = true);
  // Keeps a copy of the subject; number of matches.
  int Execute(const std::string& subject);
  std::string Pattern() const;  // empty without an engine
  // Each inserted replacement carries the terminating zero of the converted
  // replacement text; Replace removes the zero characters from the result,
  // ReplaceKeepNul keeps them, so its result ends at the first of them.
  std::string Replace(const std::string& subject, const std::string& replacement);
  std::string ReplaceKeepNul(const std::string& subject, const std::string& replacement);
  int Count() const;
  std::string MatchText(int i, int j = 0) const;
  std::string SubMatchText(int i, int j) const;
  int SubMatchCount() const;
  // The text of match i (or of its group j); with wantPosition, *position gets
  // its 0-based byte offset in the kept subject, or -1 when it is absent.
  std::string MatchTextAt(int i, int* position, bool wantPosition) const;
  std::string SubMatchTextAt(int i, int j, int* position, bool wantPosition) const;

 private:
  bool ReplaceUnits(const std::string& subject, const std::string& replacement);

  std::shared_ptr<RegexEngine> engine_;
  std::shared_ptr<const RegexMatches> matches_;
  std::string subject_;
};

}  // namespace lanshu
