#include "store/ConfigStore.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <limits>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#include "text/Codec.h"
#include "hooks/Events.h"
#include "hooks/MessageBox.h"

namespace lanshu {
namespace fs = std::filesystem;

namespace {

// GBK texts of this module.
const char kTitle[] = "\xC7\xE0\xC0\xE9\xA3\xBA";  // 青篱：
const char kAppendFailed[] =                         // 配置模块出现意外，可能导致无法正常保存！详情请咨询青篱。
    "\xC5\xE4\xD6\xC3\xC4\xA3\xBF\xE9\xB3\xF6\xCF\xD6\xD2\xE2\xCD\xE2\xA3\xAC\xBF\xC9\xC4\xDC"
    "\xB5\xBC\xD6\xC2\xCE\xDE\xB7\xA8\xD5\xFD\xB3\xA3\xB1\xA3\xB4\xE6\xA3\xA1\xCF\xEA\xC7\xE9"
    "\xC7\xEB\xD7\xC9\xD1\xAF\xC7\xE0\xC0\xE9\xA1\xA3";
const char kLineBreakMarker[] = "\xA9\xAE*\xA9\xAE";           // ┊*┊
const char kTrue[] = "\xD5\xE6";                               // 真
const char kFalse[] = "\xBC\xD9";                              // 假
const char kRegistryRoot[] = "\xC7\xE0\xC0\xE9\xC8\xED\xBC\xFE\\";  // 青篱软件 and a backslash
const char kMainWindow[] = "\xD6\xF7\xBD\xE7\xC3\xE6";         // 主界面
const char kGeometrySuffix[] = ".\xB3\xDF\xB4\xE7";            // .尺寸
const char kPlacementKey[] = "\xCE\xBB\xD6\xC3";               // 位置
const char kLeftKey[] = "\xD7\xF3\xB1\xDF";                    // 左边
const char kTopKey[] = "\xB6\xA5\xB1\xDF";                     // 顶边
const char kWidthKey[] = "\xBF\xED\xB6\xC8";                   // 宽度
const char kHeightKey[] = "\xB8\xDF\xB6\xC8";                  // 高度
const char kCrLf[] = "\r\n";
constexpr int kHeaderAppendTries = 11;

#ifdef _WIN32
const char kNativeSeparator[] = "\\";
#else
const char kNativeSeparator[] = "/";
#endif

// CR LF and the marker are replaced byte-wise: in valid GBK neither can start
// inside a double-byte character, and a stray lead byte in front of a CR must
// never keep a line break inside a stored value.
std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size()))
    text.replace(pos, from.size(), to);
  return text;
}

bool Contains(const std::string& hay, const std::string& needle) {
  return GbkFind(hay, needle) != std::string::npos;
}

bool PassesFilters(const std::string& name, const std::string& mustContain, const std::string& mustNotContain) {
  return (mustContain.empty() || Contains(name, mustContain)) &&
         (mustNotContain.empty() || !Contains(name, mustNotContain));
}

int ToInt(double d) {
  if (std::isnan(d)) return 0;
  if (d >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
  if (d <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
  return static_cast<int>(d);
}

// Index of the last "\" or "/" that starts a character; npos when none. The
// GBK-aware search matters: 0x5C is also a valid second byte.
std::size_t LastSeparator(const std::string& path) {
  std::size_t back = GbkFindLast(path, "\\", path.size());
  std::size_t slash = GbkFindLast(path, "/", path.size());
  if (back == std::string::npos) return slash;
  if (slash == std::string::npos) return back;
  return std::max(back, slash);
}

// The store's GBK path as a file-system path. Off Windows both separators are
// accepted, so a "\" that starts a character becomes "/".
fs::path NativePath(const std::string& gbk) {
#ifdef _WIN32
  std::u16string u = GbkToU16(gbk);
  return fs::path(std::wstring(u.begin(), u.end()));
#else
  std::string s = gbk;
  for (std::size_t i = 0; i < s.size(); i += GbkCharLen(s, i))
    if (s[i] == '\\') s[i] = '/';
  return fs::path(GbkToUtf8Text(s));
#endif
}

// --- Replacing a file as a whole ---------------------------------------------

std::function<bool(DiskStep)>& FaultHook() {
  static std::function<bool(DiskStep)> hook;
  return hook;
}

bool Fault(DiskStep step) { return FaultHook() && FaultHook()(step); }

#ifdef _WIN32
int OpenNewFile(const fs::path& p) {
  return _wopen(p.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
}
long WriteSome(int fd, const char* data, std::size_t n) {
  return _write(fd, data, static_cast<unsigned>(std::min<std::size_t>(n, 1u << 30)));
}
int SyncFile(int fd) { return _commit(fd); }
int CloseFile(int fd) { return _close(fd); }
int ProcessId() { return _getpid(); }
void CopyMode(int, const fs::path&) {}
void SyncDirectory(const fs::path&) {}
#else
int OpenNewFile(const fs::path& p) { return ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); }
long WriteSome(int fd, const char* data, std::size_t n) { return static_cast<long>(::write(fd, data, n)); }
int SyncFile(int fd) { return ::fsync(fd); }
int CloseFile(int fd) { return ::close(fd); }
int ProcessId() { return static_cast<int>(::getpid()); }
// The replacement keeps the permissions of the file it replaces.
void CopyMode(int fd, const fs::path& original) {
  struct stat st {};
  if (::stat(original.c_str(), &st) == 0) (void)::fchmod(fd, st.st_mode & 07777);
}
// Makes the rename itself durable.
void SyncDirectory(const fs::path& dir) {
  int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}
#endif

// A settings file reached through a symbolic link stays a link: its target is
// what gets replaced.
fs::path ReplaceTarget(const fs::path& path) {
  std::error_code ec;
  if (fs::is_symlink(fs::symlink_status(path, ec))) {
    fs::path resolved = fs::canonical(path, ec);
    if (!ec) return resolved;
  }
  return path;
}

// Creates a new, empty temporary file beside target; -1 when the directory
// does not allow it.
int CreateTempBeside(const fs::path& target, fs::path& temp) {
  static std::atomic<unsigned> counter{0};
  if (Fault(DiskStep::kCreateTemp)) return -1;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = target;
    temp += ".tmp" + std::to_string(ProcessId()) + "-" + std::to_string(counter++);
    int fd = OpenNewFile(temp);
    if (fd >= 0) return fd;
    if (errno != EEXIST) return -1;
  }
  return -1;
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  std::size_t limit = bytes.size();
  const bool failing = Fault(DiskStep::kWrite);
  if (failing) limit /= 2;
  while (done < limit) {
    long n = WriteSome(fd, bytes.data() + done, limit - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return !failing;
}

// The file at path holds either its old content or exactly bytes afterwards.
// On failure `error` (when given) receives the system's error number of the
// step that failed (EIO when it gave none).
bool ReplaceFile(const fs::path& path, const std::string& bytes, int* error = nullptr) {
  const auto failed = [error](int number) {
    if (error) *error = number != 0 ? number : EIO;
    return false;
  };
  const fs::path target = ReplaceTarget(path);
  fs::path temp;
  errno = 0;
  int fd = CreateTempBeside(target, temp);
  if (fd < 0) return failed(errno);
  CopyMode(fd, target);
  errno = 0;
  bool ok = WriteAll(fd, bytes);
  ok = ok && !Fault(DiskStep::kSync) && SyncFile(fd) == 0;
  int number = ok ? 0 : errno;
  errno = 0;
  if (CloseFile(fd) != 0 && ok) {
    ok = false;
    number = errno;
  }
  std::error_code ec;
  if (ok && !Fault(DiskStep::kRename)) {
    fs::rename(temp, target, ec);
    if (!ec) {
      SyncDirectory(target.parent_path());
      return true;
    }
    number = ec.value();
  }
  fs::remove(temp, ec);
  return failed(number);
}

// True when a file can be replaced at path (its directory takes new files).
bool CanReplace(const fs::path& path) {
  fs::path temp;
  int fd = CreateTempBeside(ReplaceTarget(path), temp);
  if (fd < 0) return false;
  CloseFile(fd);
  std::error_code ec;
  fs::remove(temp, ec);
  return true;
}

enum class ReadStatus { kOk, kMissing, kError };

ReadStatus ReadWholeFile(const fs::path& path, std::string& out) {
  std::error_code ec;
  fs::file_status st = fs::status(path, ec);
  if (st.type() == fs::file_type::not_found) return ReadStatus::kMissing;
  if (!fs::is_regular_file(st)) return ReadStatus::kError;
  std::ifstream in(path, std::ios::binary);
  if (!in) return ReadStatus::kError;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return ReadStatus::kError;
  out = std::move(bytes);
  return ReadStatus::kOk;
}

// --- Date-times ----------------------------------------------------------------

long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

bool IsLeapYear(long long y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(long long y, unsigned m) {
  static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return (m == 2 && IsLeapYear(y)) ? 29 : kDays[m - 1];
}

// Reads up to 9 digits at pos; false when there is none.
bool ReadDigits(const std::string& s, std::size_t& pos, long long& out) {
  std::size_t start = pos;
  out = 0;
  while (pos < s.size() && pos - start < 9 && s[pos] >= '0' && s[pos] <= '9') out = out * 10 + (s[pos++] - '0');
  return pos > start;
}

bool Expect(const std::string& s, std::size_t& pos, const char* choices) {
  if (pos < s.size() && std::char_traits<char>::find(choices, std::char_traits<char>::length(choices), s[pos])) {
    ++pos;
    return true;
  }
  return false;
}

}  // namespace

void SetConfigStoreFaultHook(std::function<bool(DiskStep)> hook) { FaultHook() = std::move(hook); }

// --- File handling -------------------------------------------------------------

void ConfigStore::Close() {
  attached_ = false;
  content_.clear();
}

bool ConfigStore::Load(const std::string& path, bool inMemory) {
  Close();
  loadedPath_ = path;
  inMemory_ = inMemory;
  lastWriteOk_ = true;
  const fs::path native = NativePath(path);
  std::string bytes;
  ReadStatus status = ReadWholeFile(native, bytes);
  if (status == ReadStatus::kError) return false;
  if (!TakeFileBytes(std::move(bytes))) {
    attached_ = true;
    return true;
  }
  if (inMemory) {
    attached_ = true;
  } else {
    // Every change replaces the file, so the directory must take new files;
    // when it does not, the caller can move the settings elsewhere.
    attached_ = status == ReadStatus::kMissing ? ReplaceFile(native, content_) : CanReplace(native);
    lastWriteOk_ = attached_;
  }
  return attached_;
}

namespace {

// Length of the UTF-8 sequence starting at p (1 to 4), 0 when it is not one.
std::size_t Utf8Sequence(const unsigned char* p, std::size_t left) {
  const unsigned char c = p[0];
  std::size_t n;
  std::uint32_t cp;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) n = 2, cp = c & 0x1F;
  else if (c >= 0xE0 && c <= 0xEF) n = 3, cp = c & 0x0F;
  else if (c >= 0xF0 && c <= 0xF4) n = 4, cp = c & 0x07;
  else return 0;
  if (left < n) return 0;
  for (std::size_t i = 1; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  // No overlong forms, no surrogates, nothing past U+10FFFF.
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
      (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return n;
}

}  // namespace

FileEncoding DetectFileEncoding(const std::string& bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t size = bytes.size();
  const bool mark = size >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF;
  bool utf8 = true, wide = false;
  for (std::size_t i = mark ? 3 : 0; i < size && utf8;) {
    const std::size_t n = Utf8Sequence(p + i, size - i);
    utf8 = n != 0;
    wide |= n > 1;
    i += n;
  }
  // Code page 936: a lead byte 81-FE with a trail byte 40-FE (not 7F), 80 on
  // its own; "common" pairs lie in the GB2312 area.
  bool gbk = true, common = true;
  for (std::size_t i = 0; i < size && gbk;) {
    const unsigned char c = p[i];
    if (c < 0x80 || c == 0x80) {
      common &= c < 0x80;
      ++i;
      continue;
    }
    if (c == 0xFF || i + 1 >= size || p[i + 1] < 0x40 || p[i + 1] == 0x7F || p[i + 1] == 0xFF) {
      gbk = false;
      break;
    }
    common &= c >= 0xA1 && c <= 0xF7 && p[i + 1] >= 0xA1;
    i += 2;
  }
  if (utf8 && (mark || wide) && !(gbk && common && !mark)) return FileEncoding::kUtf8;
  if (gbk) return FileEncoding::kGbk;
  return utf8 ? FileEncoding::kUtf8 : FileEncoding::kNeither;
}

bool ConfigStore::TakeFileBytes(std::string bytes) {
  loadedEncoding_ = DetectFileEncoding(bytes);
  if (loadedEncoding_ == FileEncoding::kNeither) {
    // Nobody can tell what the file says: it is neither read nor written.
    content_.clear();
    inMemory_ = true;
    return false;
  }
  if (loadedEncoding_ == FileEncoding::kUtf8) {
    const bool mark = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
    bytes = Utf8TextToGbk(mark ? bytes.substr(3) : bytes);
  }
  content_ = std::move(bytes);
  return true;
}

bool ConfigStore::Reload() {
  if (loadedPath_.empty()) return false;
  std::string bytes;
  if (ReadWholeFile(NativePath(loadedPath_), bytes) != ReadStatus::kOk) return false;
  // Read by the same rules as at Load: UTF-8 becomes GBK, a file in neither
  // encoding is left unread.
  TakeFileBytes(std::move(bytes));
  return true;
}

bool ConfigStore::Open(const std::string& storeName, std::int32_t mode) {
  storeName_ = storeName;
  mode_ = mode;
  // The registry (mode 2) exists only on Windows and the program never uses
  // it; the settings of that mode are kept in memory as in mode 1.
  return Load(storeName, mode == kMemoryMode || mode == kRegistryMode);
}

bool ConfigStore::SaveAs(const std::string& path, int* error) {
  const std::string& target = path.empty() ? loadedPath_ : path;
  if (target.empty()) {
    if (error) *error = ENOENT;
    return false;
  }
  // A loaded file in neither encoding is never written over.
  if (path.empty() && loadedEncoding_ == FileEncoding::kNeither) {
    if (error) *error = EPERM;
    return false;
  }
  return ReplaceFile(NativePath(target), content_, error);
}

void ConfigStore::Persist() {
  if (!attached_ || inMemory_) return;
  lastWriteOk_ = ReplaceFile(NativePath(loadedPath_), content_);
}

// --- Searching -----------------------------------------------------------------

// Searches are byte-wise: every pattern starts with "[" at a line start or
// with CR LF, neither of which can fall inside a double-byte character.
bool ConfigStore::FindHeader(const std::string& section, std::size_t from, Header& out) const {
  const std::string pattern = "[" + section + "]";
  for (std::size_t pos = content_.find(pattern, from); pos != std::string::npos;
       pos = content_.find(pattern, pos + 1)) {
    if (pos == 0 || (pos >= 2 && content_[pos - 2] == '\r' && content_[pos - 1] == '\n')) {
      out = Header{pos, pos + pattern.size() - 1};
      return true;
    }
  }
  return false;
}

namespace {
// 0-based index of the "[" of a line starting with "[" strictly between the
// 0-based indices a and b; -1 when none.
long HeaderLineBetween(const std::string& content, long a, long b) {
  if (a < 0 && b > 0 && !content.empty() && content[0] == '[') return 0;
  std::size_t from = a < 1 ? 0 : static_cast<std::size_t>(a - 1);
  std::size_t crlf = content.find("\r\n[", from);
  if (crlf == std::string::npos) return -1;
  long q = static_cast<long>(crlf) + 2;
  return q < b ? q : -1;
}
}  // namespace

long ConfigStore::FindSectionHeader(long from, long to) const {
  long q = HeaderLineBetween(content_, from - 1, to - 1);
  return q < 0 ? -1 : q + 1;
}

std::size_t ConfigStore::FindEntry(const Header& header, const std::string& key) const {
  std::size_t m = content_.find(kCrLf + key + "=", header.close);
  if (m == std::string::npos) return m;
  if (HeaderLineBetween(content_, static_cast<long>(header.close), static_cast<long>(m)) >= 0)
    return std::string::npos;  // the entry belongs to a later section
  return m;
}

// --- Raw values ----------------------------------------------------------------

std::string ConfigStore::ReadValue(const std::string& section, const std::string& key,
                                   const std::string& defaultValue, bool emptyAsMissing) {
  ProcessPendingEvents();
  Header header{};
  if (!FindHeader(section, 0, header)) return defaultValue;
  std::size_t entry = FindEntry(header, key);
  if (entry == std::string::npos) return defaultValue;
  std::size_t start = entry + 2 + key.size() + 1;
  std::size_t end = std::min(content_.find(kCrLf, start), content_.size());
  if (end == start && emptyAsMissing) return defaultValue;
  return content_.substr(start, end - start);
}

bool ConfigStore::WriteValue(const std::string& section, const std::string& key, const std::string& value) {
  std::size_t searchFrom = 0;
  int appends = 0;
  int keyInserts = 0;
  for (;;) {
    // Events are processed only here, before the searches of a pass: a nested
    // handler may change the content, so no position survives across it.
    ProcessPendingEvents();
    searchFrom = std::min(searchFrom, content_.size());
    Header header{};
    if (FindHeader(section, searchFrom, header)) {
      std::size_t entry = FindEntry(header, key);
      if (entry != std::string::npos) {
        std::size_t start = entry + 2 + key.size() + 1;
        std::size_t end = std::min(content_.find(kCrLf, start), content_.size());
        content_.replace(start, end - start, value);
        Persist();
        return true;
      }
      if (keyInserts < kHeaderAppendTries) {
        content_.insert(header.close + 1, kCrLf + key + "=");
        ++keyInserts;
        continue;
      }
    } else if (appends < kHeaderAppendTries) {
      searchFrom = content_.size();
      if (!content_.empty()) content_ += kCrLf;
      content_ += "[" + section + "]";
      ++appends;
      continue;
    }
    Persist();
    ShowMessageBox(kAppendFailed, kMbIconWarning | kMbSystemModal, kTitle);
    ShowMessageBox(content_, kMbIconInformation | kMbSystemModal, kTitle);
    return false;
  }
}

// --- Listing and restructuring ---------------------------------------------------

namespace {
struct Block {
  std::string name;
  std::vector<std::string> lines;  // lines below the header up to the next header
};

// Sections as the header lines cut the content: a line starting with "["
// ends the block above it; one without a "]" opens no named block, so the
// lines below it belong to no section.
std::vector<Block> NamedBlocks(const std::string& content) {
  std::vector<Block> blocks;
  bool inBlock = false;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = content.find(kCrLf, start);
    const bool last = end == std::string::npos;
    if (last) end = content.size();
    if (end > start && content[start] == '[') {
      std::size_t close = content.rfind(']', end - 1);
      inBlock = close != std::string::npos && close > start;
      if (inBlock) blocks.push_back(Block{content.substr(start + 1, close - start - 1), {}});
    } else if (inBlock) {
      blocks.back().lines.push_back(content.substr(start, end - start));
    }
    if (last) break;
    start = end + 2;
  }
  return blocks;
}

bool LineHasKey(const std::string& line, const std::string& key) {
  return line.size() > key.size() && line.compare(0, key.size(), key) == 0 && line[key.size()] == '=';
}
}  // namespace

int ConfigStore::SectionsWithKey(const std::string& key, std::vector<std::string>& names) {
  ProcessPendingEvents();
  names.clear();
  for (const Block& block : NamedBlocks(content_)) {
    if (std::any_of(block.lines.begin(), block.lines.end(),
                    [&](const std::string& line) { return LineHasKey(line, key); }))
      names.push_back(block.name);
  }
  return static_cast<int>(names.size());
}

int ConfigStore::KeysWithValue(const std::string& value, std::vector<std::string>& keys,
                               const std::string& section) {
  ProcessPendingEvents();
  keys.clear();
  for (const Block& block : NamedBlocks(content_)) {
    if (!section.empty() && block.name != section) continue;
    for (const std::string& line : block.lines) {
      std::size_t eq = line.find('=');
      if (eq == std::string::npos) continue;
      std::size_t valueLength = line.size() - eq - 1;
      bool match = value.empty() ? valueLength == 0 : line.compare(eq + 1, value.size(), value) == 0;
      if (match) keys.push_back(line.substr(0, eq));
    }
  }
  return static_cast<int>(keys.size());
}

int ConfigStore::ListSections(std::vector<std::string>& names, const std::string& mustContain,
                              const std::string& mustNotContain) {
  ProcessPendingEvents();
  names.clear();
  for (const Block& block : NamedBlocks(content_))
    if (PassesFilters(block.name, mustContain, mustNotContain)) names.push_back(block.name);
  return static_cast<int>(names.size());
}

int ConfigStore::ListKeys(std::vector<std::string>& keys, const std::string& section,
                          const std::string& mustContain, const std::string& mustNotContain) {
  ProcessPendingEvents();
  keys.clear();
  Header header{};
  if (!FindHeader(section, 0, header)) return 0;
  std::size_t pos = content_.find(kCrLf, header.close);
  while (pos != std::string::npos) {
    std::size_t start = pos + 2;
    if (start < content_.size() && content_[start] == '[') break;
    pos = content_.find(kCrLf, start);
    std::string line = content_.substr(start, std::min(pos, content_.size()) - start);
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    if (PassesFilters(key, mustContain, mustNotContain)) keys.push_back(std::move(key));
  }
  return static_cast<int>(keys.size());
}

bool ConfigStore::DeleteSection(const std::string& section) {
  ProcessPendingEvents();
  Header header{};
  if (!FindHeader(section, 0, header)) return false;
  long next = HeaderLineBetween(content_, static_cast<long>(header.close), static_cast<long>(content_.size()));
  if (next >= 0) {
    content_.erase(header.start, static_cast<std::size_t>(next) - header.start);
  } else {
    // The last section takes the line break in front of it along.
    content_.erase(header.start >= 2 ? header.start - 2 : header.start);
  }
  Persist();
  return true;
}

bool ConfigStore::RenameSection(const std::string& oldName, const std::string& newName) {
  ProcessPendingEvents();
  Header header{};
  if (!FindHeader(oldName, 0, header)) return false;
  content_.replace(header.start + 1, oldName.size(), newName);
  Persist();
  return true;
}

bool ConfigStore::RenameKey(const std::string& section, const std::string& oldKey, const std::string& newKey) {
  ProcessPendingEvents();
  Header header{};
  if (!FindHeader(section, 0, header)) return false;
  std::size_t entry = FindEntry(header, oldKey);
  if (entry == std::string::npos) return false;
  content_.replace(entry + 2, oldKey.size(), newKey);
  Persist();
  return true;
}

void ConfigStore::SetAllText(const std::string& text, bool append) {
  if (!append) content_.clear();
  content_ += text;
  Persist();
}

// --- Typed values ----------------------------------------------------------------

void ConfigStore::SetSection(const std::string& section) {
  section_ = section;
  std::string file = storeName_;
  std::size_t sep = LastSeparator(file);
  if (sep != std::string::npos) file.erase(0, sep + 1);
  std::size_t dot = file.rfind('.');
  if (dot != std::string::npos) file.erase(dot);
  registryPrefix_ = kRegistryRoot + file + "\\" + section + "\\";
}

std::string ConfigStore::StoreDirectory() const {
  std::size_t sep = LastSeparator(storeName_);
  return sep == std::string::npos ? std::string() : storeName_.substr(0, sep + 1);
}

// A store name without a directory keeps its binary files relative to the
// working directory, like the store itself, never at the root.
std::string ConfigStore::BinaryPath(const std::string& name) const {
  return StoreDirectory() + "inibin" + kNativeSeparator + section_ + "-" + name + ".ibn";
}

std::string ConfigStore::ReadBinary(const std::string& name, const std::string& defaultBytes) {
  std::string bytes;
  if (ReadWholeFile(NativePath(BinaryPath(name)), bytes) != ReadStatus::kOk || bytes.empty()) return defaultBytes;
  return bytes;
}

bool ConfigStore::WriteBinary(const std::string& name, const std::string& bytes) {
  std::error_code ec;
  fs::create_directories(NativePath(StoreDirectory() + "inibin"), ec);
  return ReplaceFile(NativePath(BinaryPath(name)), bytes);
}

bool ConfigStore::WriteText(const std::string& key, const std::string& value) {
  return WriteValue(section_, key, ReplaceAll(value, kCrLf, kLineBreakMarker));
}

std::string ConfigStore::ReadText(const std::string& key, const std::string& defaultValue) {
  return ReplaceAll(ReadValue(section_, key, defaultValue), kLineBreakMarker, kCrLf);
}

bool ConfigStore::WriteNumber(const std::string& key, double number) {
  return WriteValue(section_, key, NumberText(number));
}

double ConfigStore::ReadNumber(const std::string& key, double defaultValue) {
  return TextToNumber(ReadValue(section_, key, NumberText(defaultValue)));
}

bool ConfigStore::WriteBool(const std::string& key, bool value) {
  return WriteValue(section_, key, value ? kTrue : kFalse);
}

std::string ConfigStore::BoolRead(const std::string& key, bool defaultValue) {
  return ReadValue(section_, key, defaultValue ? kTrue : kFalse);
}

bool ConfigStore::ReadBool(const std::string& key, bool defaultValue) { return BoolRead(key, defaultValue) == kTrue; }

bool ConfigStore::ReadBoolNotFalse(const std::string& key, bool defaultValue) {
  return BoolRead(key, defaultValue) != kFalse;
}

bool ConfigStore::WriteDateTime(const std::string& key, const std::tm& value) {
  return WriteValue(section_, key, DateTimeText(value));
}

std::tm ConfigStore::ReadDateTime(const std::string& key, const std::tm& defaultValue) {
  std::tm result{};
  if (!TextToDateTime(ReadValue(section_, key, DateTimeText(defaultValue)), result)) return defaultValue;
  return result;
}

// --- Control states ----------------------------------------------------------------

bool ConfigStore::SaveCheckBox(const CheckableControl& box) { return WriteBool(box.Caption(), box.Checked()); }

bool ConfigStore::LoadCheckBox(CheckableControl& box) {
  bool checked = ReadBool(box.Caption(), box.Checked());
  box.SetChecked(checked);
  return checked;
}

bool ConfigStore::SaveMenuCheck(const CheckableControl& item) { return SaveCheckBox(item); }
bool ConfigStore::LoadMenuCheck(CheckableControl& item) { return LoadCheckBox(item); }
bool ConfigStore::SaveOptionBox(const CheckableControl& box) { return SaveCheckBox(box); }
bool ConfigStore::LoadOptionBox(CheckableControl& box) { return LoadCheckBox(box); }

std::string ConfigStore::DefaultWindowName() { return kMainWindow; }

void ConfigStore::SaveWindowGeometry(const WindowGeometry& window, const std::string& name) {
  const std::string section = name + kGeometrySuffix;
  const int placement = window.Placement();
  WriteValue(section, kPlacementKey, NumberText(placement));
  if (placement > 1) return;
  WriteValue(section, kLeftKey, NumberText(window.Left()));
  WriteValue(section, kTopKey, NumberText(window.Top()));
  WriteValue(section, kWidthKey, NumberText(window.Width()));
  WriteValue(section, kHeightKey, NumberText(window.Height()));
}

void ConfigStore::RestoreWindowGeometry(WindowGeometry& window, const std::string& name) {
  const std::string section = name + kGeometrySuffix;
  auto read = [&](const char* key, int current) {
    return ToInt(TextToNumber(ReadValue(section, key, NumberText(current))));
  };
  const int placement = read(kPlacementKey, window.Placement());
  window.SetPlacement(placement);
  if (placement > 1) return;
  const int left = read(kLeftKey, window.Left());
  const int top = read(kTopKey, window.Top());
  const int width = read(kWidthKey, window.Width());
  const int height = read(kHeightKey, window.Height());
  window.Move(left, top, width, height);
}

// --- Text forms ----------------------------------------------------------------------

// Whole numbers as plain decimals, others in the shortest form that reads back
// to the same double; independent of the process locale.
std::string ConfigStore::NumberText(double number) {
  if (number == 0) return "0";
  char buf[64];
  std::to_chars_result r{};
  if (std::isfinite(number) && number == std::trunc(number) && std::fabs(number) < 1e21)
    r = std::to_chars(buf, buf + sizeof buf, number, std::chars_format::fixed);
  else
    r = std::to_chars(buf, buf + sizeof buf, number);
  return std::string(buf, r.ptr);
}

// The leading decimal number of the text, as atof reads it; 0 when none.
double ConfigStore::TextToNumber(const std::string& text) {
  std::size_t pos = text.find_first_not_of(" \t\n\v\f\r");
  if (pos == std::string::npos) return 0;
  bool plus = text[pos] == '+';
  if (plus) ++pos;
  if (plus && pos < text.size() && text[pos] == '-') return 0;
  const char* first = text.data() + pos;
  const char* last = text.data() + text.size();
  double value = 0;
  std::from_chars_result r = std::from_chars(first, last, value);
  if (r.ec == std::errc::result_out_of_range) {
    // Too large or too small for a double: atof gives the infinity or zero.
    std::string_view digits(first, static_cast<std::size_t>(r.ptr - first));
    std::size_t e = digits.find_first_of("eE");
    bool tiny = e != std::string_view::npos && e + 1 < digits.size() && digits[e + 1] == '-';
    bool negative = *first == '-';
    value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    return negative ? -value : value;
  }
  return r.ec == std::errc() ? value : 0;
}

std::string ConfigStore::DateTimeText(const std::tm& value) {
  char buf[128];
  auto field = [](int v, long long offset) { return static_cast<long long>(v) + offset; };
  std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", field(value.tm_year, 1900),
                field(value.tm_mon, 1), field(value.tm_mday, 0), field(value.tm_hour, 0), field(value.tm_min, 0),
                field(value.tm_sec, 0));
  return buf;
}

// Reads "Y-M-D", optionally followed by " H:M" or " H:M:S" (also "/" between
// the date's parts and "T" before the time), with surrounding blanks.
bool ConfigStore::TextToDateTime(const std::string& text, std::tm& out) {
  std::size_t pos = text.find_first_not_of(" \t");
  if (pos == std::string::npos) return false;
  long long y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  if (!ReadDigits(text, pos, y) || !Expect(text, pos, "-/") || !ReadDigits(text, pos, mo) ||
      !Expect(text, pos, "-/") || !ReadDigits(text, pos, d))
    return false;
  if (Expect(text, pos, " T")) {
    if (!ReadDigits(text, pos, h) || !Expect(text, pos, ":") || !ReadDigits(text, pos, mi)) return false;
    if (Expect(text, pos, ":") && !ReadDigits(text, pos, s)) return false;
  }
  if (text.find_first_not_of(" \t", pos) != std::string::npos) return false;
  if (mo < 1 || mo > 12 || d < 1 || d > DaysInMonth(y, static_cast<unsigned>(mo)) || h > 23 || mi > 59 || s > 60)
    return false;
  std::tm result{};
  result.tm_year = static_cast<int>(y - 1900);
  result.tm_mon = static_cast<int>(mo - 1);
  result.tm_mday = static_cast<int>(d);
  result.tm_hour = static_cast<int>(h);
  result.tm_min = static_cast<int>(mi);
  result.tm_sec = static_cast<int>(s);
  const long long days = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
  result.tm_wday = static_cast<int>(((days + 4) % 7 + 7) % 7);
  result.tm_yday = static_cast<int>(days - DaysFromCivil(y, 1, 1));
  result.tm_isdst = -1;
  out = result;
  return true;
}

}  // namespace lanshu
