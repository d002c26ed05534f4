#include "text/Regex.h"

#include <algorithm>
#include <cstring>

#include "text/Codec.h"

namespace lanshu {
namespace {

using MatchesPtr = std::shared_ptr<const RegexMatches>;

const MatchesPtr& NoMatches() {
  static const MatchesPtr empty = std::make_shared<const RegexMatches>();
  return empty;
}

std::shared_ptr<RegexEngine> NewEngine(const std::string& pattern, bool ignoreCase, bool multiline, bool global) {
  auto engine = std::make_shared<RegexEngine>();
  engine->SetIgnoreCase(ignoreCase);
  engine->SetMultiline(multiline);
  engine->SetGlobal(global);
  engine->SetPattern(GbkToU16(pattern));
  return engine;
}

// The collection of an Execute; an engine error gives an empty one.
MatchesPtr Run(RegexEngine* engine, const std::string& subject) {
  if (!engine) return NoMatches();
  std::optional<RegexMatches> found = engine->Execute(GbkToU16(subject));
  if (!found) return NoMatches();
  return std::make_shared<const RegexMatches>(std::move(*found));
}

// The UTF-16 texts of one replacement. Nothing runs between converting them
// and converting the result back (no events are processed), so one set per
// thread serves every object, and their storage is reused from cell to cell.
struct ReplaceScratch {
  std::u16string subject, replacement, out;
};

ReplaceScratch& Scratch() {
  thread_local ReplaceScratch scratch;
  return scratch;
}

// Gives back the storage a very long text took.
void Trim(ReplaceScratch& scratch) {
  constexpr std::size_t kKeep = 1 << 20;
  if (scratch.subject.capacity() > kKeep || scratch.out.capacity() > kKeep) scratch = ReplaceScratch();
}

// Replace over GBK texts; the empty text on an engine error.
std::string ReplaceGbk(RegexEngine& engine, const std::string& subject, const std::string& replacement) {
  ReplaceScratch& t = Scratch();
  GbkToU16(subject, t.subject);
  GbkToU16(replacement, t.replacement);
  std::string result = engine.ReplaceInto(t.subject, t.replacement, t.out) ? U16ToGbk(t.out) : std::string();
  Trim(t);
  return result;
}

int CountOf(const MatchesPtr& m) { return m ? static_cast<int>(m->size()) : 0; }

// Match i (1-based) or null.
const RegexMatch* MatchOf(const MatchesPtr& m, int i) {
  if (!m || i < 1 || static_cast<std::size_t>(i) > m->size()) return nullptr;
  return &(*m)[i - 1];
}

// j <= 0: the whole match; j >= 1: group j (nullopt when unset or absent).
std::optional<std::u16string> ValueOf(const MatchesPtr& m, int i, int j) {
  const RegexMatch* match = MatchOf(m, i);
  if (!match) return std::nullopt;
  if (j <= 0) return match->value;
  if (static_cast<std::size_t>(j) > match->groups.size()) return std::nullopt;
  return match->groups[j - 1];
}

std::string TextOf(const std::optional<std::u16string>& value) { return value ? U16ToGbk(*value) : std::string(); }

int GroupsOfFirst(const MatchesPtr& m) {
  const RegexMatch* first = MatchOf(m, 1);
  return first ? static_cast<int>(first->groups.size()) : 0;
}

// Byte offset in a GBK text of the character that the decoder turns into
// UTF-16 unit `units`: a lead byte with a valid trail byte is one unit, every
// other byte (an invalid pair's lead byte too) is one unit of its own.
std::size_t ByteOffsetOfUnit(const std::string& gbk, std::size_t units) {
  auto isTrail = [](unsigned char c) { return c >= 0x40 && c <= 0xFE && c != 0x7F; };
  std::size_t b = 0;
  for (std::size_t u = 0; u < units && b < gbk.size(); ++u) {
    bool pair = IsGbkLeadByte(static_cast<unsigned char>(gbk[b])) && b + 1 < gbk.size() &&
                isTrail(static_cast<unsigned char>(gbk[b + 1]));
    b += pair ? 2 : 1;
  }
  return b;
}

// Puts a backslash before every single-byte character of `escaped` (stepping
// over double-byte characters); with wildcards, "*" becomes ".*" and "?" ".?".
std::string Escape(const std::string& text, const char* escaped, bool wildcards) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (std::size_t i = 0; i < text.size();) {
    std::size_t n = GbkCharLen(text, i);
    char c = text[i];
    if (n == 1 && c != '\0' && std::strchr(escaped, c)) {
      out += '\\';
    } else if (n == 1 && wildcards && (c == '*' || c == '?')) {
      out += '.';
    }
    out.append(text, i, n);
    i += n;
  }
  return out;
}

}  // namespace

// ---- RegexCore ----

RegexCore::RegexCore() : engine_(std::make_shared<RegexEngine>()) {}

bool RegexCore::Compile(const std::string& pattern, bool caseSensitive, bool singleLine, bool firstOnly) {
  int options = (caseSensitive ? 0 : 1) | (singleLine ? 0 : 2) | (firstOnly ? 0 : 4);
  if (pattern == pattern_ && options == options_) return true;
  if (!pattern.empty() && pattern != pattern_) {
    pattern_ = pattern;
    engine_->SetPattern(GbkToU16(pattern));
  }
  options_ = options;
  engine_->SetIgnoreCase(options & 1);
  engine_->SetMultiline(options & 2);
  engine_->SetGlobal(options & 4);
  return true;
}

int RegexCore::Execute(const std::string& subject) {
  matches_ = Run(engine_.get(), subject);
  return CountOf(matches_);
}

int RegexCore::CompileAndExecute(const std::string& pattern, const std::string& subject, bool caseSensitive,
                                 bool singleLine, bool firstOnly) {
  if (!Compile(pattern, caseSensitive, singleLine, firstOnly)) return 0;
  return Execute(subject);
}

int RegexCore::Count() const { return CountOf(matches_); }

std::optional<std::u16string> RegexCore::MatchValue(int i, int j) const { return ValueOf(matches_, i, j); }

std::string RegexCore::MatchText(int i, int j) const { return TextOf(MatchValue(i, j)); }

std::string RegexCore::SubMatchText(int i, int j) const { return MatchText(i, j); }

std::string RegexCore::Replace(const std::string& subject, const std::string& replacement,
                               const std::optional<std::string>& pattern, bool caseSensitive, bool singleLine,
                               bool firstOnly) {
  if (pattern) Compile(*pattern, caseSensitive, singleLine, firstOnly);
  return ReplaceGbk(*engine_, subject, replacement);
}

bool RegexCore::Test(const std::string& subject) { return engine_->Test(GbkToU16(subject)).value_or(false); }

int RegexCore::SubMatchCount() const { return GroupsOfFirst(matches_); }

int RegexCore::MatchLength(int i, int j) const {
  std::optional<std::u16string> value = MatchValue(i, j);
  return value ? static_cast<int>(value->size()) : 0;
}

int RegexCore::MatchByteLength(int i, int j) const {
  if (j <= 0) return MatchLength(i, j);
  return static_cast<int>(MatchText(i, j).size());
}

// ---- RegexObject ----

std::string RegexObject::EscapeWildcard(const std::string& text) { return Escape(text, "\\^$+.{}[]=()\"", true); }

std::string RegexObject::EscapeAll(const std::string& text) { return Escape(text, "\\^$+.{}[]=()?*|\"", false); }

std::string RegexObject::EscapeKeepBar(const std::string& text) { return Escape(text, "\\^$+.{}[]=()?*\"", false); }

// ---- RegexLite ----

bool RegexLite::Create(const std::string& pattern, bool ignoreCase, bool multiline, bool global) {
  matches_.reset();
  engine_ = NewEngine(pattern, ignoreCase, multiline, global);
  count_ = 0;
  return true;
}

std::string RegexLite::Pattern() const { return engine_ ? U16ToGbk(engine_->Pattern()) : std::string(); }

std::string RegexLite::Replace(const std::string& subject, const std::string& replacement) {
  if (!engine_) return std::string();
  return ReplaceGbk(*engine_, subject, replacement);
}

int RegexLite::Execute(const std::string& subject) {
  matches_ = Run(engine_.get(), subject);
  count_ = CountOf(matches_);
  return count_;
}

std::string RegexLite::MatchText(int i) const { return TextOf(ValueOf(matches_, i, 0)); }

std::string RegexLite::SubMatchText(int i, int j) const {
  return j >= 1 ? TextOf(ValueOf(matches_, i, j)) : std::string();
}

int RegexLite::SubMatchCount() const { return count_ > 0 ? GroupsOfFirst(matches_) : 0; }

// ---- RegexGbk ----

void RegexGbk::Reset() {
  engine_.reset();
  matches_.reset();
  subject_.clear();
}

bool RegexGbk::Create(const std::string& pattern, bool ignoreCase, bool multiline, bool global) {
  engine_ = NewEngine(pattern, ignoreCase, multiline, global);
  return true;
}

int RegexGbk::Execute(const std::string& subject) {
  subject_ = subject;
  matches_ = Run(engine_.get(), subject);
  return CountOf(matches_);
}

std::string RegexGbk::Pattern() const { return engine_ ? U16ToGbk(engine_->Pattern()) : std::string(); }

// The engine sees subject and replacement with their terminating zero; the
// search itself stops before the subject's zero so that anchors and classes
// see the text as it is. The result is left in the scratch's out.
bool RegexGbk::ReplaceUnits(const std::string& subject, const std::string& replacement) {
  if (!engine_) return false;
  ReplaceScratch& t = Scratch();
  GbkToU16(subject, t.subject);
  GbkToU16(replacement, t.replacement);
  t.subject.push_back(u'\0');
  t.replacement.push_back(u'\0');
  return engine_->ReplaceInto(t.subject, t.replacement, t.out, t.subject.size() - 1);
}

std::string RegexGbk::Replace(const std::string& subject, const std::string& replacement) {
  if (!ReplaceUnits(subject, replacement)) return std::string();
  std::u16string& units = Scratch().out;
  units.erase(std::remove(units.begin(), units.end(), u'\0'), units.end());
  std::string result = U16ToGbk(units);
  Trim(Scratch());
  return result;
}

std::string RegexGbk::ReplaceKeepNul(const std::string& subject, const std::string& replacement) {
  if (!ReplaceUnits(subject, replacement)) return std::string();
  std::u16string& units = Scratch().out;
  units.resize(units.find(u'\0'));  // there is always the subject's own zero
  std::string result = U16ToGbk(units);
  Trim(Scratch());
  return result;
}

int RegexGbk::Count() const { return CountOf(matches_); }

std::string RegexGbk::MatchText(int i, int j) const { return TextOf(ValueOf(matches_, i, j)); }

std::string RegexGbk::SubMatchText(int i, int j) const { return MatchText(i, j); }

int RegexGbk::SubMatchCount() const { return GroupsOfFirst(matches_); }

std::string RegexGbk::MatchTextAt(int i, int* position, bool wantPosition) const {
  return SubMatchTextAt(i, 0, position, wantPosition);
}

std::string RegexGbk::SubMatchTextAt(int i, int j, int* position, bool wantPosition) const {
  std::optional<std::u16string> value = ValueOf(matches_, i, j);
  if (wantPosition && position) {
    *position = -1;
    if (value) {
      const RegexMatch& m = *MatchOf(matches_, i);
      std::size_t unit = j <= 0 ? m.firstIndex : m.groupIndex[j - 1];
      *position = static_cast<int>(ByteOffsetOfUnit(subject_, unit));
    }
  }
  return TextOf(value);
}

}  // namespace lanshu
