#pragma once
// The settings store: named values in sections of an INI-like GBK text file.
//
// The whole file is kept in memory; reads search the memory copy only. Every
// change is applied to the memory copy and then written to disk by replacing
// the file as a whole (a temporary file beside it, flushed, renamed over it),
// so the file on disk is always either the complete old or the complete new
// content, even after a crash or a full disk.
//
// File format: lines end with CR LF; a section starts with a line "[name]"; an
// entry is a line "key=value" below its section's header. Values never hold a
// line break: the text operations store CR LF as the marker "┊*┊".
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace lanshu {

// A two-state control as the store sees it (check box, menu item, option
// box); the window adapts its widgets to this. The caption is GBK.
struct CheckableControl {
  virtual ~CheckableControl() = default;
  virtual std::string Caption() const = 0;
  virtual bool Checked() const = 0;
  virtual void SetChecked(bool checked) = 0;
};

// A window's placement and frame as the store sees it. Placement is the
// integer the window reports for its state; values above 1 mean the frame is
// not the normal one (minimised, maximised) and is not stored.
struct WindowGeometry {
  virtual ~WindowGeometry() = default;
  virtual int Placement() const = 0;
  virtual void SetPlacement(int placement) = 0;
  virtual int Left() const = 0;
  virtual int Top() const = 0;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual void Move(int left, int top, int width, int height) = 0;
};

// How a settings file's bytes read: GBK (the store's own form), UTF-8 as a
// text editor saves it (with or without a byte-order mark), or neither.
enum class FileEncoding { kGbk, kUtf8, kNeither };

// UTF-8 when the bytes are valid UTF-8 holding non-ASCII text and do not read
// as plausible GBK (every double-byte pair in the common GB2312 area); GBK
// when they are valid GBK; neither otherwise.
FileEncoding DetectFileEncoding(const std::string& bytes);

class ConfigStore {
 public:
  enum Mode : std::int32_t { kFileMode = 0, kMemoryMode = 1, kRegistryMode = 2 };

  ConfigStore() = default;
  ConfigStore(const ConfigStore&) = default;
  ConfigStore& operator=(const ConfigStore&) = default;

  // --- File handling --------------------------------------------------------

  // Detaches from the file and empties the content.
  void Close();
  // Reads the file at path (GBK) into the content. inMemory: changes stay in
  // memory. Otherwise every change is written back; a missing file is created
  // empty. False when the file cannot be read, or (not inMemory) when the
  // directory does not let the file be replaced; the content then still
  // answers reads and takes writes in memory.
  // A UTF-8 file is read as UTF-8 and its next write turns the whole file
  // into GBK; a file in neither encoding is left untouched: the content
  // starts empty and stays in memory (see LoadedEncoding).
  bool Load(const std::string& path, bool inMemory = false);
  // How the file read by the last Load was encoded.
  FileEncoding LoadedEncoding() const { return loadedEncoding_; }
  // Reads the content again from the loaded path, by the rules of Load; on
  // failure the content is kept and the result is false.
  bool Reload();
  // Stores the name and mode and loads the file (mode 1 in memory). Mode 2
  // keeps the settings in memory too: see the source.
  bool Open(const std::string& storeName, std::int32_t mode = kFileMode);
  // Writes the content to path, or to the loaded path when path is empty.
  // On failure `error` (when given) receives the system's error number.
  bool SaveAs(const std::string& path = std::string(), int* error = nullptr);
  const std::string& FileName() const { return storeName_; }
  // False when the last change could not be written to disk (the file then
  // keeps its previous content; memory holds the change).
  bool LastWriteReachedDisk() const { return lastWriteOk_; }

  // --- Raw values -----------------------------------------------------------

  bool WriteValue(const std::string& section, const std::string& key, const std::string& value);
  std::string ReadValue(const std::string& section, const std::string& key,
                        const std::string& defaultValue = std::string(),
                        bool emptyAsMissing = false);
  // 1-based position of the "[" of a section header line lying strictly
  // between the 1-based positions from and to; -1 when there is none.
  long FindSectionHeader(long from, long to) const;

  // --- Listing and restructuring --------------------------------------------

  int SectionsWithKey(const std::string& key, std::vector<std::string>& names);
  // Keys whose value begins with value (an empty value: keys whose value is
  // empty), limited to the given section when one is given.
  int KeysWithValue(const std::string& value, std::vector<std::string>& keys,
                    const std::string& section = std::string());
  // Section names from the header lines; a filter that is not empty keeps the
  // names that contain (mustContain) or do not contain (mustNotContain) it.
  int ListSections(std::vector<std::string>& names, const std::string& mustContain = std::string(),
                   const std::string& mustNotContain = std::string());
  int ListKeys(std::vector<std::string>& keys, const std::string& section,
               const std::string& mustContain = std::string(),
               const std::string& mustNotContain = std::string());
  bool DeleteSection(const std::string& section);
  bool RenameSection(const std::string& oldName, const std::string& newName);
  bool RenameKey(const std::string& section, const std::string& oldKey, const std::string& newKey);
  const std::string& GetAllText() const { return content_; }
  void SetAllText(const std::string& text, bool append = false);

  // --- Typed values in the current section ----------------------------------

  void SetSection(const std::string& section);
  const std::string& Section() const { return section_; }
  // "青篱软件\" + base name of the store name + "\" + section + "\".
  const std::string& RegistryPrefix() const { return registryPrefix_; }

  // Bytes kept in a file of their own: <store directory>/inibin/<section>-<name>.ibn.
  std::string ReadBinary(const std::string& name, const std::string& defaultBytes = std::string());
  bool WriteBinary(const std::string& name, const std::string& bytes);

  bool WriteText(const std::string& key, const std::string& value);
  std::string ReadText(const std::string& key, const std::string& defaultValue = std::string());
  bool WriteNumber(const std::string& key, double number);
  double ReadNumber(const std::string& key, double defaultValue = 0);
  bool WriteBool(const std::string& key, bool value);
  bool ReadBool(const std::string& key, bool defaultValue = false);
  bool ReadBoolNotFalse(const std::string& key, bool defaultValue = false);
  // Stored as "YYYY-MM-DD HH:MM:SS" (civil time, no zone). A stored text that
  // is not a date-time reads as the default.
  bool WriteDateTime(const std::string& key, const std::tm& value);
  std::tm ReadDateTime(const std::string& key, const std::tm& defaultValue);

  // --- Control states (key: the caption; value: the checked state) ----------

  bool SaveMenuCheck(const CheckableControl& item);
  bool LoadMenuCheck(CheckableControl& item);
  bool SaveCheckBox(const CheckableControl& box);
  bool LoadCheckBox(CheckableControl& box);
  bool SaveOptionBox(const CheckableControl& box);
  bool LoadOptionBox(CheckableControl& box);
  // Section: name + ".尺寸"; name defaults to "主界面". The current section
  // is left as it is.
  void SaveWindowGeometry(const WindowGeometry& window, const std::string& name = DefaultWindowName());
  void RestoreWindowGeometry(WindowGeometry& window, const std::string& name = DefaultWindowName());
  static std::string DefaultWindowName();

  // Text forms of the typed values (also used for defaults of typed reads).
  static std::string NumberText(double number);
  static double TextToNumber(const std::string& text);
  static std::string DateTimeText(const std::tm& value);
  static bool TextToDateTime(const std::string& text, std::tm& out);

 private:
  // Takes a file's bytes as content by their encoding; false (and no
  // content, kept in memory only) for a file in neither GBK nor UTF-8.
  bool TakeFileBytes(std::string bytes);
  struct Header {
    std::size_t start;  // index of "["
    std::size_t close;  // index of "]"
  };
  bool FindHeader(const std::string& section, std::size_t from, Header& out) const;
  // Index of the CR of CR LF + key + "=" belonging to the header, or npos.
  std::size_t FindEntry(const Header& header, const std::string& key) const;
  void Persist();
  std::string StoreDirectory() const;
  std::string BinaryPath(const std::string& name) const;
  std::string BoolRead(const std::string& key, bool defaultValue);

  std::string content_;
  bool attached_ = false;  // a file (or the memory file) is open
  bool inMemory_ = false;  // changes stay in memory
  std::string loadedPath_;
  std::string storeName_;
  std::string section_;
  std::int32_t mode_ = kFileMode;
  std::string registryPrefix_;
  bool lastWriteOk_ = true;
  FileEncoding loadedEncoding_ = FileEncoding::kGbk;
};

// Test seam: called before each step of replacing a file on disk; returning
// true makes that step fail as a full disk or a failing device would (a write
// then stores only part of the bytes). An empty hook removes it.
enum class DiskStep { kCreateTemp, kWrite, kSync, kRename };
void SetConfigStoreFaultHook(std::function<bool(DiskStep)> hook);

}  // namespace lanshu
