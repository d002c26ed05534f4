#include "mining/ResultFiles.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <chrono>

#include "text/Codec.h"
#include "text/Entities.h"
#include "text/Reasons.h"

#ifdef _WIN32
#include <direct.h>
#endif

namespace lanshu {

std::string NativePath(const std::string& gbkPath) {
#ifdef _WIN32
  return gbkPath;
#else
  return GbkToUtf8Text(gbkPath);
#endif
}

namespace {

bool Exists(const std::string& nativePath) {
  struct stat st;
  return ::stat(nativePath.c_str(), &st) == 0;
}

bool MakeDirectory(const std::string& nativePath) {
#ifdef _WIN32
  return _mkdir(nativePath.c_str()) == 0;
#else
  return ::mkdir(nativePath.c_str(), 0777) == 0 || errno == EEXIST;
#endif
}

}  // namespace

bool MakeDirectoryPath(const std::string& path, int* error) {
  // The separator is ASCII below 0x40, so it is never the second byte of a
  // double-byte character and a byte search is exact.
  for (std::size_t p = path.find(kPathSeparator); p != std::string::npos;
       p = path.find(kPathSeparator, p + 1)) {
    const std::string prefix = path.substr(0, p);
#ifdef _WIN32
    if (prefix.size() == 2) continue;  // a drive such as C:
#else
    if (prefix.empty()) continue;  // the root
#endif
    const std::string native = NativePath(prefix);
    if (!Exists(native) && !MakeDirectory(native)) {
      if (error) *error = errno;
      return false;
    }
  }
  return true;
}

int PrepareResultFolder(const std::string& dir) {
  int error = 0;
  errno = 0;
  if (!MakeDirectoryPath(dir, &error)) return error != 0 ? error : EIO;
  // Creating the folder proves nothing about writing in it (an existing
  // folder without permission, a read-only disk): try a file.
  const std::string probe = NativePath(dir) + ".lanshu-write-check-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  errno = 0;
  std::FILE* file = std::fopen(probe.c_str(), "wbx");
  if (!file) return errno != 0 ? errno : EIO;
  std::fclose(file);
  std::remove(probe.c_str());
  return 0;
}

std::string FolderErrorText(int error) { return Utf8TextToGbk(FileErrorChinese(error)); }

std::string FolderErrorTextEnglish(int error) { return FileErrorEnglish(error); }

std::string CleanFileName(const std::string& text) {
  std::string name = text;
  // "\" and "|" can be second bytes of double-byte characters: ReplaceList
  // steps over those.
  ReplaceList(name, Utf8TextToGbk("\\,/,:,*,?,|,<,>"), Utf8TextToGbk("＼,／,：,＊,？,｜,＜,＞"), true, false, ",");
  ReplaceList(name, "\"|\r\n|\r|\n|\t", "", true);
  return name;
}

std::string DateTimeText(const std::tm& t) {
  std::string s = std::to_string(t.tm_year + 1900) + "年" + std::to_string(t.tm_mon + 1) + "月" +
                  std::to_string(t.tm_mday) + "日";
  if (t.tm_sec != 0) {
    s += std::to_string(t.tm_hour) + "时" + std::to_string(t.tm_min) + "分" + std::to_string(t.tm_sec) + "秒";
  } else if (t.tm_min != 0) {
    s += std::to_string(t.tm_hour) + "时" + std::to_string(t.tm_min) + "分";
  } else if (t.tm_hour != 0) {
    s += std::to_string(t.tm_hour) + "时";
  }
  return Utf8TextToGbk(s);
}

std::string FreeResultFileName(const std::string& stem, const std::string& extension) {
  std::string name = stem + "." + extension;
  for (int n = 2; Exists(NativePath(name)) && n < 100000; ++n)
    name = stem + "_" + std::to_string(n) + "." + extension;
  return name;
}

bool ResultFile::Open(const std::string& name, const char* mode) {
  Close();
  error_ = 0;
  errno = 0;
  file_ = std::fopen(NativePath(name).c_str(), mode);
  if (!file_) error_ = errno != 0 ? errno : EIO;
  return file_ != nullptr;
}

bool ResultFile::OpenForRewrite(const std::string& name) { return Open(name, "wb"); }

bool ResultFile::OpenForAppend(const std::string& name) { return Open(name, "ab"); }

bool ResultFile::Write(const std::string& bytes) {
  if (!file_) return true;
  errno = 0;
  // Handed to the operating system now, so a crash keeps the line.
  const bool whole = std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
  if (std::fflush(file_) == 0 && whole) return true;
  error_ = errno != 0 ? errno : EIO;
  return false;
}

bool ResultFile::Close() {
  if (!file_) return true;
  errno = 0;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!closed) error_ = errno != 0 ? errno : EIO;
  return closed;
}

}  // namespace lanshu
