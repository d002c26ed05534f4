#define PCRE2_CODE_UNIT_WIDTH 16
#include "text/RegexEngine.h"

#include <pcre2.h>

#include <algorithm>
#include <memory>

namespace lanshu {
namespace {

// Limits that turn catastrophic backtracking into an engine error within a
// fraction of a second instead of a hang; the interpreter keeps its
// backtracking frames on the heap, so the depth and heap limits bound memory.
constexpr uint32_t kMatchLimit = 10000000;
constexpr uint32_t kDepthLimit = 100000;
constexpr PCRE2_SIZE kHeapLimitKiB = 128 * 1024;
constexpr PCRE2_SIZE kJitStackStart = 32 * 1024;
constexpr PCRE2_SIZE kJitStackMax = 4 * 1024 * 1024;

// One JIT stack per thread, handed out at match time, so an engine may be used
// from any thread (one at a time).
struct JitStackDeleter {
  void operator()(pcre2_jit_stack* s) const { pcre2_jit_stack_free(s); }
};

pcre2_jit_stack* ThreadJitStack(void*) {
  thread_local std::unique_ptr<pcre2_jit_stack, JitStackDeleter> stack(
      pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr));
  return stack.get();
}

PCRE2_SPTR Units(const std::u16string& s) { return reinterpret_cast<PCRE2_SPTR>(s.data()); }

// A piece of a parsed replacement template.
struct Piece {
  enum Kind { kLiteral, kGroup, kMatch, kBefore, kAfter } kind;
  std::u16string text;  // kLiteral
  uint32_t group = 0;   // kGroup
};

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// "$$" "$&" "$`" "$'" and "$n"/"$nn" naming an existing group; every other "$"
// stays literal. "$nn" falls back to "$n" followed by the digit when group nn
// does not exist but group n does.
std::vector<Piece> ParseReplacement(const std::u16string& r, uint32_t groupCount) {
  std::vector<Piece> pieces;
  auto literal = [&pieces](const char16_t* p, std::size_t n) {
    if (pieces.empty() || pieces.back().kind != Piece::kLiteral) pieces.push_back({Piece::kLiteral, {}, 0});
    pieces.back().text.append(p, n);
  };
  auto special = [&pieces](Piece::Kind kind, uint32_t group) { pieces.push_back({kind, {}, group}); };
  std::size_t i = 0;
  const std::size_t n = r.size();
  while (i < n) {
    std::size_t dollar = r.find(u'$', i);
    if (dollar == std::u16string::npos) dollar = n;
    literal(r.data() + i, dollar - i);
    i = dollar;
    if (i >= n) break;
    char16_t c = i + 1 < n ? r[i + 1] : u'\0';
    if (i + 1 < n && c == u'$') {
      literal(u"$", 1);
      i += 2;
    } else if (i + 1 < n && c == u'&') {
      special(Piece::kMatch, 0);
      i += 2;
    } else if (i + 1 < n && c == u'`') {
      special(Piece::kBefore, 0);
      i += 2;
    } else if (i + 1 < n && c == u'\'') {
      special(Piece::kAfter, 0);
      i += 2;
    } else if (i + 1 < n && IsDigit(c)) {
      uint32_t one = c - u'0';
      if (i + 2 < n && IsDigit(r[i + 2])) {
        uint32_t two = one * 10 + (r[i + 2] - u'0');
        if (two >= 1 && two <= groupCount) {
          special(Piece::kGroup, two);
          i += 3;
          continue;
        }
      }
      if (one >= 1 && one <= groupCount) {
        special(Piece::kGroup, one);
        i += 2;
      } else {
        literal(u"$", 1);
        i += 1;
      }
    } else {
      literal(u"$", 1);
      i += 1;
    }
  }
  return pieces;
}

// A compiled pattern with what the searches need to know about it. Compiling
// (with JIT) costs far more than parsing a short page, and parsers build their
// regular expressions afresh for every page, so each thread keeps the patterns
// it compiled last; the compiled code is only read while matching, so engines
// share it.
struct CompiledPattern {
  pcre2_code* code = nullptr;
  uint32_t groupCount = 0;
  // With CR LF as one newline, PCRE2 never starts a match between the CR and
  // the LF when it moves on by itself after a failed attempt (always for a
  // pattern anchored at line starts, else unless the pattern names CR or LF).
  // An ECMAScript engine does try there, so those positions are retried.
  bool crlfSkips = false;

  CompiledPattern() = default;
  CompiledPattern(const CompiledPattern&) = delete;
  CompiledPattern& operator=(const CompiledPattern&) = delete;
  ~CompiledPattern() { pcre2_code_free(code); }
};

// Null when the pattern does not compile.
std::shared_ptr<const CompiledPattern> CompilePattern(const std::u16string& pattern, bool ignoreCase,
                                                      bool multiline) {
  uint32_t options = PCRE2_ALT_BSUX | PCRE2_MATCH_UNSET_BACKREF | PCRE2_ALLOW_EMPTY_CLASS | PCRE2_NEVER_UTF |
                     PCRE2_NEVER_UCP;
  if (ignoreCase) options |= PCRE2_CASELESS;
  options |= multiline ? (PCRE2_MULTILINE | PCRE2_ALT_CIRCUMFLEX) : PCRE2_DOLLAR_ENDONLY;
  pcre2_compile_context* cc = pcre2_compile_context_create(nullptr);
  if (!cc) return nullptr;
  pcre2_set_newline(cc, multiline ? PCRE2_NEWLINE_ANYCRLF : PCRE2_NEWLINE_LF);
  int error = 0;
  PCRE2_SIZE errorOffset = 0;
  pcre2_code* code = pcre2_compile(Units(pattern), pattern.size(), options, &error, &errorOffset, cc);
  pcre2_compile_context_free(cc);
  if (!code) return nullptr;

  auto c = std::make_shared<CompiledPattern>();
  c->code = code;
  pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);  // the interpreter serves where JIT is unavailable
  pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &c->groupCount);
  if (multiline) {
    uint32_t hasCrOrLf = 0, firstType = 0;
    const uint8_t* firstBits = nullptr;
    pcre2_pattern_info(code, PCRE2_INFO_HASCRORLF, &hasCrOrLf);
    pcre2_pattern_info(code, PCRE2_INFO_FIRSTCODETYPE, &firstType);
    pcre2_pattern_info(code, PCRE2_INFO_FIRSTBITMAP, &firstBits);
    bool startsAtLineStart = firstType == 2;
    bool mayStartWithLf = firstType != 1 && (!firstBits || (firstBits[u'\n' / 8] & (1u << (u'\n' % 8))) != 0);
    c->crlfSkips = mayStartWithLf && (!hasCrOrLf || startsAtLineStart);
  }
  return c;
}

std::shared_ptr<const CompiledPattern> CachedPattern(const std::u16string& pattern, bool ignoreCase, bool multiline) {
  struct Entry {
    std::u16string pattern;
    bool ignoreCase, multiline;
    std::shared_ptr<const CompiledPattern> compiled;
  };
  thread_local std::vector<Entry> recent;  // the latest first
  for (std::size_t i = 0; i < recent.size(); ++i) {
    const Entry& e = recent[i];
    if (e.ignoreCase != ignoreCase || e.multiline != multiline || e.pattern != pattern) continue;
    std::rotate(recent.begin(), recent.begin() + static_cast<long>(i), recent.begin() + static_cast<long>(i) + 1);
    return recent.front().compiled;
  }
  std::shared_ptr<const CompiledPattern> compiled = CompilePattern(pattern, ignoreCase, multiline);
  if (!compiled) return nullptr;  // failures are cheap to find again
  recent.insert(recent.begin(), Entry{pattern, ignoreCase, multiline, compiled});
  if (recent.size() > 16) recent.pop_back();
  return compiled;
}

}  // namespace

struct RegexEngine::Compiled {
  std::shared_ptr<const CompiledPattern> pattern;
  pcre2_code* code = nullptr;
  pcre2_match_context* context = nullptr;
  pcre2_match_data* data = nullptr;   // the main search
  pcre2_match_data* probe = nullptr;  // anchored retries (see crlfSkips)
  uint32_t groupCount = 0;
  bool crlfSkips = false;

  Compiled() = default;
  Compiled(const Compiled&) = delete;
  Compiled& operator=(const Compiled&) = delete;
  ~Compiled() {
    pcre2_match_data_free(probe);
    pcre2_match_data_free(data);
    pcre2_match_context_free(context);
  }

  int Run(const std::u16string& s, std::size_t len, std::size_t start, uint32_t options,
          pcre2_match_data* md) const {
    int rc = pcre2_match(code, Units(s), len, start, options, md, context);
    if (rc == PCRE2_ERROR_JIT_STACKLIMIT) rc = pcre2_match(code, Units(s), len, start, options | PCRE2_NO_JIT, md, context);
    return rc;
  }

  // The last unanchored search of one walk through a subject: where it found
  // its match (or len when it found none).
  struct Scan {
    bool valid = false;
    bool found = false;
    std::size_t at = 0;
  };

  // First match at or after start within s[0, len): 1 with *found set, 0 for
  // none, -1 for an engine error. Positions PCRE2 skipped are tried anchored;
  // while such a retry succeeds before the unanchored search's match, that
  // search is not repeated (it would find the same match again), which keeps
  // a walk through many lines linear.
  int Find(const std::u16string& s, std::size_t len, std::size_t start, Scan& scan, pcre2_match_data** found) const {
    std::size_t probeFrom = start;
    if (!scan.valid || start > scan.at) {
      int rc = Run(s, len, start, 0, data);
      if (rc < PCRE2_ERROR_NOMATCH || rc == 0) return -1;
      scan.valid = true;
      scan.found = rc > 0;
      scan.at = scan.found ? pcre2_get_ovector_pointer(data)[0] : len;
      probeFrom = start + 1;  // PCRE2 itself tried the start position
    }
    if (crlfSkips) {
      for (std::size_t p = std::max<std::size_t>(probeFrom, 1); p < scan.at; ++p) {
        if (s[p] != u'\n' || s[p - 1] != u'\r') continue;
        int probed = Run(s, len, p, PCRE2_ANCHORED, probe);
        if (probed > 0) {
          *found = probe;
          return 1;
        }
        if (probed != PCRE2_ERROR_NOMATCH) return -1;
      }
    }
    if (!scan.found) return 0;
    *found = data;
    return 1;
  }

  // Calls onMatch(ovector) for every match (or the first one), stepping past an
  // empty match by one code unit. false on an engine error.
  template <class F>
  bool ForEach(const std::u16string& s, std::size_t len, bool global, F onMatch) const {
    std::size_t start = 0;
    Scan scan;
    while (start <= len) {
      pcre2_match_data* md = nullptr;
      int r = Find(s, len, start, scan, &md);
      if (r < 0) return false;
      if (r == 0) break;
      const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
      std::size_t begin = ov[0];
      std::size_t end = std::max(ov[0], ov[1]);
      onMatch(ov, begin, end);
      if (!global) break;
      start = end > begin ? end : end + 1;
    }
    return true;
  }
};

RegexEngine::RegexEngine() = default;
RegexEngine::~RegexEngine() = default;

void RegexEngine::Invalidate() { compiled_.reset(); }

void RegexEngine::SetPattern(const std::u16string& pattern) {
  ++patternWrites_;
  pattern_ = pattern;
  Invalidate();
}

void RegexEngine::SetIgnoreCase(bool on) {
  ++optionWrites_;
  ignoreCase_ = on;
  Invalidate();
}

void RegexEngine::SetMultiline(bool on) {
  ++optionWrites_;
  multiline_ = on;
  Invalidate();
}

void RegexEngine::SetGlobal(bool on) {
  ++optionWrites_;
  global_ = on;  // a search-time setting: the compiled pattern stays valid
}

const RegexEngine::Compiled* RegexEngine::Prepare() {
  if (!compiled_) compiled_ = Compile();
  return compiled_->code ? compiled_.get() : nullptr;
}

std::unique_ptr<RegexEngine::Compiled> RegexEngine::Compile() const {
  auto c = std::make_unique<Compiled>();  // without code it is remembered as failed until a property changes
  std::shared_ptr<const CompiledPattern> pattern = CachedPattern(pattern_, ignoreCase_, multiline_);
  if (!pattern) return c;
  c->context = pcre2_match_context_create(nullptr);
  c->data = pcre2_match_data_create_from_pattern(pattern->code, nullptr);
  c->probe = pcre2_match_data_create_from_pattern(pattern->code, nullptr);
  if (!c->context || !c->data || !c->probe) return std::make_unique<Compiled>();
  pcre2_set_match_limit(c->context, kMatchLimit);
  pcre2_set_depth_limit(c->context, kDepthLimit);
  pcre2_set_heap_limit(c->context, kHeapLimitKiB);
  pcre2_jit_stack_assign(c->context, ThreadJitStack, nullptr);
  c->code = pattern->code;
  c->groupCount = pattern->groupCount;
  c->crlfSkips = pattern->crlfSkips;
  c->pattern = std::move(pattern);
  return c;
}

std::optional<RegexMatches> RegexEngine::Execute(const std::u16string& subject) {
  const Compiled* c = Prepare();
  if (!c) return std::nullopt;
  RegexMatches matches;
  bool ok = c->ForEach(subject, subject.size(), global_, [&](const PCRE2_SIZE* ov, std::size_t begin, std::size_t end) {
    RegexMatch m;
    m.firstIndex = begin;
    m.value = subject.substr(begin, end - begin);
    m.groups.resize(c->groupCount);
    m.groupIndex.resize(c->groupCount, 0);
    for (uint32_t g = 1; g <= c->groupCount; ++g) {
      if (ov[2 * g] == PCRE2_UNSET) continue;
      m.groups[g - 1] = subject.substr(ov[2 * g], ov[2 * g + 1] - ov[2 * g]);
      m.groupIndex[g - 1] = ov[2 * g];
    }
    matches.push_back(std::move(m));
  });
  if (!ok) return std::nullopt;
  return matches;
}

std::optional<std::u16string> RegexEngine::Replace(const std::u16string& subject, const std::u16string& replacement,
                                                   std::size_t searchEnd) {
  std::u16string out;
  if (!ReplaceInto(subject, replacement, out, searchEnd)) return std::nullopt;
  return out;
}

bool RegexEngine::ReplaceInto(const std::u16string& subject, const std::u16string& replacement, std::u16string& out,
                              std::size_t searchEnd) {
  out.clear();
  const Compiled* c = Prepare();
  if (!c) return false;
  std::size_t len = std::min(searchEnd, subject.size());
  std::vector<Piece> pieces = ParseReplacement(replacement, c->groupCount);
  std::size_t last = 0;
  bool ok = c->ForEach(subject, len, global_, [&](const PCRE2_SIZE* ov, std::size_t begin, std::size_t end) {
    out.append(subject, last, begin - last);
    for (const Piece& p : pieces) {
      switch (p.kind) {
        case Piece::kLiteral: out += p.text; break;
        case Piece::kMatch: out.append(subject, begin, end - begin); break;
        case Piece::kBefore: out.append(subject, 0, begin); break;
        case Piece::kAfter: out.append(subject, end, std::u16string::npos); break;
        case Piece::kGroup:
          if (ov[2 * p.group] != PCRE2_UNSET) out.append(subject, ov[2 * p.group], ov[2 * p.group + 1] - ov[2 * p.group]);
          break;
      }
    }
    last = end;
  });
  if (!ok) {
    out.clear();
    return false;
  }
  out.append(subject, last, std::u16string::npos);
  return true;
}

std::optional<bool> RegexEngine::Test(const std::u16string& subject) {
  const Compiled* c = Prepare();
  if (!c) return std::nullopt;
  pcre2_match_data* md = nullptr;
  Compiled::Scan scan;
  int r = c->Find(subject, subject.size(), 0, scan, &md);
  if (r < 0) return std::nullopt;
  return r > 0;
}

}  // namespace lanshu
