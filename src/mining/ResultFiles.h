#pragma once
// Result files of keyword mining: names, directories and the line writer.
#include <cstdio>
#include <ctime>
#include <string>

namespace lanshu {

// The path separator where the program builds or walks a path.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// Creates every directory along path (GBK; ends in the separator). True when
// all exist or were created; false at the first that cannot be created. The
// root ("/") and, on Windows, a drive ("C:") are not created.
// With error given, it receives the system's error number of the failure.
bool MakeDirectoryPath(const std::string& path, int* error = nullptr);

// Makes sure result files can be written in dir (GBK; ends in the separator):
// creates it as MakeDirectoryPath does, then creates and removes a probe
// file in it. 0 when it can, else the system's error number.
int PrepareResultFolder(const std::string& dir);

// Why a folder cannot be used: a short reason for the common error numbers,
// the number itself otherwise. For the window in Chinese (GBK); for standard
// error in English, the same whatever the locale.
std::string FolderErrorText(int error);
std::string FolderErrorTextEnglish(int error);

// The text made usable as a file name: \ / : * ? | < > become their
// full-width forms, double quotes go, line breaks and tabs go.
std::string CleanFileName(const std::string& text);

// "2024年3月5日14时7分9秒"; trailing zero parts are left out (GBK).
std::string DateTimeText(const std::tm& time);

// stem + "." + extension (GBK), or, when a file of that name is there
// already, the first free stem + "_2", "_3", … + "." + extension: an earlier
// run's results are never overwritten.
std::string FreeResultFileName(const std::string& stem, const std::string& extension);

// A result file opened for rewriting. Each line reaches the operating system
// at once, so a crash keeps every line written before it. Writing to or
// closing a file that is not open does nothing. Every failure (open, a short
// or failed write or flush, close) is told, with the system's error number
// in Error().
class ResultFile {
 public:
  ResultFile() = default;
  ~ResultFile() { Close(); }  // a run closes its files itself and checks
  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;

  // name is GBK; converted to the file system's encoding. Closes a file that
  // is still open first. False when the file cannot be opened.
  bool OpenForRewrite(const std::string& name);
  // Opens to add at the end (created if absent).
  bool OpenForAppend(const std::string& name);
  // False when not every byte reached the operating system.
  bool Write(const std::string& bytes);
  // False when the last bytes could not be written out as the file closed.
  bool Close();
  bool IsOpen() const { return file_ != nullptr; }
  int Error() const { return error_; }

 private:
  bool Open(const std::string& name, const char* mode);
  std::FILE* file_ = nullptr;
  int error_ = 0;
};

// The file system's form of a GBK path.
std::string NativePath(const std::string& gbkPath);

}  // namespace lanshu
