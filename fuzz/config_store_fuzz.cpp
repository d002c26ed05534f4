// Arbitrary settings-file bytes, then a few typed and raw writes: every write
// must read back as written, later writes must not disturb earlier ones. In
// file mode the loaded content follows the file's encoding (GBK as it is,
// UTF-8 converted to GBK, neither: not read), and afterwards the disk holds
// exactly the memory content, or the untouched bytes of a file in neither
// encoding.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "store/ConfigStore.h"
#include "text/Codec.h"

using namespace lanshu;

namespace {

const std::string kMarker = "\xA9\xAE*\xA9\xAE";

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "config_store_fuzz: %s\n", what);
    std::abort();
  }
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  for (std::size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size())) s.replace(p, from.size(), to);
  return s;
}

// Names from a small alphabet that includes GBK bytes and the format's own
// characters; bytes a name cannot hold are dropped.
std::string Name(FuzzedDataProvider& fdp, const std::string& banned) {
  static const char kAlphabet[] = "ak[]= \r\n\xB0\x5C\xA9\xAE*";
  std::string s;
  std::size_t n = fdp.ConsumeIntegralInRange<std::size_t>(0, 4);
  for (std::size_t i = 0; i < n; ++i) {
    char c = kAlphabet[fdp.ConsumeIntegralInRange<std::size_t>(0, sizeof kAlphabet - 2)];
    if (banned.find(c) == std::string::npos) s += c;
  }
  return s;
}

std::string Escaped(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    char buf[8];
    if (c >= 0x20 && c < 0x7F && c != '\\') out += static_cast<char>(c);
    else std::snprintf(buf, sizeof buf, "\\x%02X", c), out += buf;
  }
  return out;
}

void ExpectValue(ConfigStore& store, const std::string& section, const std::string& key, const std::string& raw,
                 const char* what) {
  const std::string read = store.ReadValue(section, key, "default");
  if (read == raw) return;
  std::fprintf(stderr, "section [%s] key [%s] raw [%s] read [%s]\ncontent [%s]\n", Escaped(section).c_str(),
               Escaped(key).c_str(), Escaped(raw).c_str(), Escaped(read).c_str(), Escaped(store.GetAllText()).c_str());
  Check(false, what);
}

std::string ReadFile(const std::string& path) {
  std::string out;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  const bool fileMode = fdp.ConsumeIntegralInRange<int>(0, 15) == 15;
  const std::string file = fdp.ConsumeRandomLengthString(2048);

  ConfigStore store;
  const FileEncoding encoding = DetectFileEncoding(file);
  // tmpfs when there is one: a disk sync there costs nothing.
  static const std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  const std::string path = dir + "/config_store_fuzz." + std::to_string(getpid()) + ".ini";
  if (fileMode) {
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
      std::fwrite(file.data(), 1, file.size(), f);
      std::fclose(f);
    }
    Check(store.Load(path), "load");
    Check(store.LoadedEncoding() == encoding, "loaded encoding");
    switch (encoding) {
      case FileEncoding::kGbk:
        Check(store.GetAllText() == file, "loaded GBK content");
        break;
      case FileEncoding::kUtf8: {
        const bool mark = file.compare(0, 3, "\xEF\xBB\xBF") == 0;
        Check(store.GetAllText() == Utf8TextToGbk(mark ? file.substr(3) : file), "loaded UTF-8 content");
        break;
      }
      case FileEncoding::kNeither:
        Check(store.GetAllText().empty(), "a file in neither encoding is not read");
        break;
    }
  } else {
    store.SetAllText(file);
  }

  // (section, key) -> the raw text the last write stored.
  std::map<std::pair<std::string, std::string>, std::string> expected;
  const int writes = fdp.ConsumeIntegralInRange<int>(1, 6);
  for (int i = 0; i < writes; ++i) {
    const std::string section = Name(fdp, "]\r\n");
    std::string key = Name(fdp, "=\r\n");
    key.erase(0, key.find_first_not_of('['));  // such a line would start a section
    store.SetSection(section);
    std::string raw;
    switch (fdp.ConsumeIntegralInRange<int>(0, 3)) {
      case 0: {
        // Without 0xA9 in the value only real line breaks become the marker.
        std::string text = Replace(fdp.ConsumeRandomLengthString(64), "\xA9", "");
        Check(store.WriteText(key, text), "WriteText");
        Check(store.ReadText(key, "default") == text, "ReadText");
        raw = Replace(text, "\r\n", kMarker);
        break;
      }
      case 1: {
        raw = fdp.ConsumeRandomLengthString(64);  // a raw value holds no line break
        while (raw.find("\r\n") != std::string::npos) raw = Replace(raw, "\r\n", "\n");
        Check(store.WriteValue(section, key, raw), "WriteValue");
        break;
      }
      case 2: {
        double d = fdp.ConsumeFloatingPoint<double>();
        Check(store.WriteNumber(key, d), "WriteNumber");
        double back = store.ReadNumber(key, 12345);
        Check(back == d || (std::isnan(d) && std::isnan(back)), "ReadNumber");
        raw = ConfigStore::NumberText(d);
        break;
      }
      default: {
        bool b = fdp.ConsumeBool();
        Check(store.WriteBool(key, b), "WriteBool");
        Check(store.ReadBool(key, !b) == b && store.ReadBoolNotFalse(key, !b) == b, "ReadBool");
        raw = store.ReadValue(section, key);
        break;
      }
    }
    ExpectValue(store, section, key, raw, "ReadValue after write");
    expected[{section, key}] = raw;
  }
  for (const auto& [where, raw] : expected)
    ExpectValue(store, where.first, where.second, raw, "ReadValue after all writes");

  // The listing operations only need to survive arbitrary content.
  std::vector<std::string> out;
  store.ListSections(out, "a");
  for (const std::string& name : out) {
    std::vector<std::string> keys;
    store.ListKeys(keys, name);
  }
  store.SectionsWithKey("k", out);
  store.KeysWithValue("", out);
  long from = fdp.ConsumeIntegralInRange<long>(-2, 2100);
  long pos = store.FindSectionHeader(from, from + 200);
  Check(pos == -1 || (pos > from && pos < from + 200 && store.GetAllText()[pos - 1] == '['), "FindSectionHeader");

  if (fileMode) {
    Check(store.LastWriteReachedDisk(), "disk write");
    // The writes above replaced a GBK or UTF-8 file with the memory content
    // (GBK); a file in neither encoding is never written.
    Check(ReadFile(path) == (encoding == FileEncoding::kNeither ? file : store.GetAllText()), "disk content");
    std::remove(path.c_str());
  }
  return 0;
}
