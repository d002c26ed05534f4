// Arbitrary pattern, subject and replacement through the regex objects: no
// crash, no hang, and match positions that lie inside the subject in order.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "text/Regex.h"

using namespace lanshu;

namespace {

// Splits the input at the first two zero bytes: pattern, subject, replacement.
std::string Take(std::string& rest) {
  std::size_t z = rest.find('\0');
  std::string head = rest.substr(0, z);
  rest = z == std::string::npos ? std::string() : rest.substr(z + 1);
  return head;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  unsigned flags = data[0];
  std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string pattern = Take(rest);
  std::string subject = Take(rest);
  std::string replacement = rest.substr(0, rest.find('\0'));
  bool ic = flags & 1, ml = flags & 2, gl = flags & 4;

  RegexObject object;
  object.Compile(pattern, ic, ml, gl);
  int n = object.Execute(subject);
  if (n != object.Count()) std::abort();
  for (int i = 1; i <= n; ++i) {
    object.MatchText(i);
    for (int j = 0; j <= object.SubMatchCount(); ++j) object.SubMatchText(i, j);
  }
  object.Replace(subject, replacement);

  RegexGbk gbk;
  gbk.Create(pattern, ic, ml, gl);
  int m = gbk.Execute(subject);
  if (m != n) std::abort();  // same engine settings, same subject
  int previous = -1;
  for (int i = 1; i <= m; ++i) {
    int pos = -1;
    std::string text = gbk.MatchTextAt(i, &pos, true);
    if (pos < previous || static_cast<std::size_t>(pos) > subject.size()) std::abort();
    previous = pos;
  }
  gbk.Replace(subject, replacement);
  gbk.ReplaceKeepNul(subject, replacement);

  RegexCore core;
  core.Test(subject);
  core.Replace(subject, replacement, pattern, !ic, !ml, !gl);
  return 0;
}
