#pragma once
// The HTTP request engine.
//
// One GET or POST per call over libcurl (one easy handle per request), with
// browser-like default headers, the raw response header block returned as text
// and cookies kept in the program-wide store (web/CookieJar.h). Every request
// runs on the one transfer loop (web/TransferLoop.h) while the calling (GUI)
// thread keeps processing window events; the guarded request gives up after a
// time-out counted from the start of the request, or when the waits are
// cancelled (CancelTransferWaits), and is then removed from the loop at once.
#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "web/Coding.h"

namespace lanshu {

// Bounds on what one response may deliver; beyond them the request fails.
struct HttpLimits {
  std::size_t maxBodyBytes = std::size_t{64} << 20;
  std::size_t maxHeaderBytes = std::size_t{256} << 10;  // the final response's header block
};

// The in-memory stream that carries a guarded request's parameters to the
// transfer: typed fields written and read in sequence at one position. A
// text field is its bytes up to the first zero byte followed by a zero byte; a
// bytes field is its length (32-bit little-endian) followed by its bytes.
// Reads past the end give the empty value.
class RequestExchange {
 public:
  RequestExchange() = default;
  // Starts empty on the given storage (its capacity is what is wanted).
  explicit RequestExchange(std::string storage) : data_(std::move(storage)) { data_.clear(); }
  // Hands the storage over for reuse; the exchange is empty afterwards.
  std::string Release() {
    pos_ = 0;
    return std::move(data_);
  }
  void Rewind() { pos_ = 0; }
  void Clear() {
    data_.clear();
    pos_ = 0;
  }
  std::size_t Size() const { return data_.size(); }
  void WriteText(const std::string& text);
  void WriteBytes(const std::string& bytes);
  std::string ReadText();
  std::string ReadBytes();

 private:
  void Put(const char* p, std::size_t n);
  std::string data_;
  std::size_t pos_ = 0;
};

// What a GET brought: the body and header block as Request returns them,
// the final status, and what went wrong when no whole response arrived.
struct HttpResult {
  std::string body;
  std::string headers;
  int status = 0;     // of the final response; 0 when none arrived
  std::string error;  // short English ("time-out", "connection refused", ...); empty on success
  bool Ok() const { return error.empty(); }
};

class HttpClient {
 public:
  explicit HttpClient(HttpLimits limits = HttpLimits());
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // Members follow the order of the engine's operation table.

  // --- Form and character-set coding (web/Coding.h). ---
  std::string FormDecodeUtf8(const std::string& t) const { return lanshu::FormDecodeUtf8(t); }
  std::string FormEncodeUtf8(const std::string& t) const { return lanshu::FormEncodeUtf8(t); }
  std::string FormEncodeGbk(const std::string& t) const { return lanshu::FormEncodeGbk(t); }
  std::string FormDecodeGbk(const std::string& t) const { return lanshu::FormDecodeGbk(t); }
  std::string ReadTextFileAs(const std::string& path, const std::string& charset) const {
    return lanshu::ReadTextFileAs(path, charset);
  }
  std::string TextToCharset(const std::string& text, const std::string& charset,
                            int skip = -1) const {
    return lanshu::TextToCharset(text, charset, skip);
  }
  std::string CharsetToText(const std::string& bytes, const std::string& charset) const {
    return lanshu::CharsetToText(bytes, charset);
  }
  std::string ConvertCharset(const std::string& bytes, const std::string& fromCharset,
                             const std::string& toCharset, int skip = -1) const {
    return lanshu::ConvertCharset(bytes, fromCharset, toCharset, skip);
  }

  // Cookies of the address's host ("name=value; name2=value2"), or with a name
  // the value of that cookie; the empty text when there is none.
  std::string GetCookie(const std::string& url, const std::string& name = std::string()) const;

  // --- Requests. Texts are GBK; "bytes" are raw byte strings. ---

  // The guarded request: body of the response, or empty bytes when the request
  // failed or was not done within the time-out (0 means 90 seconds).
  // *responseHeaders always receives the raw header block of the final
  // response ("status line\r\nName: value\r\n...\r\n\r\n"), or the empty text.
  std::string Request(const std::string& url, const std::string& method = std::string(),
                      const std::string& proxy = std::string(),
                      const std::string& userName = std::string(),
                      const std::string& password = std::string(),
                      const std::string& headers = std::string(),
                      const std::string& body = std::string(), int timeoutSeconds = 0,
                      std::string* responseHeaders = nullptr) const;
  // Request, with the body cut at its first zero byte.
  std::string RequestText(const std::string& url, const std::string& method = std::string(),
                          const std::string& proxy = std::string(),
                          const std::string& userName = std::string(),
                          const std::string& password = std::string(),
                          const std::string& headers = std::string(),
                          const std::string& body = std::string(), int timeoutSeconds = 0,
                          std::string* responseHeaders = nullptr) const;
  // Same as Request (the address is split by the public UrlHost/UrlPath/UrlPort).
  std::string RequestUsingUrlParts(const std::string& url,
                                   const std::string& method = std::string(),
                                   const std::string& proxy = std::string(),
                                   const std::string& userName = std::string(),
                                   const std::string& password = std::string(),
                                   const std::string& headers = std::string(),
                                   const std::string& body = std::string(),
                                   int timeoutSeconds = 0,
                                   std::string* responseHeaders = nullptr) const;
  // Same as Request, with a POST body of raw bytes (zero bytes included).
  std::string RequestBytesBody(const std::string& url, const std::string& method = std::string(),
                               const std::string& proxy = std::string(),
                               const std::string& userName = std::string(),
                               const std::string& password = std::string(),
                               const std::string& headers = std::string(),
                               const std::string& body = std::string(), int timeoutSeconds = 0,
                               std::string* responseHeaders = nullptr) const;
  // The unguarded request, processing window events during the transfer; no
  // time-out and no credentials. On failure it returns
  // 255 zero bytes and leaves *responseHeaders alone.
  std::string RequestDirect(const std::string& url, const std::string& method = std::string(),
                            const std::string& proxy = std::string(),
                            const std::string& headers = std::string(),
                            const std::string& body = std::string(),
                            std::string* responseHeaders = nullptr) const;
  // RequestDirect, with the body cut at its first zero byte.
  std::string RequestDirectText(const std::string& url, const std::string& method = std::string(),
                                const std::string& proxy = std::string(),
                                const std::string& headers = std::string(),
                                const std::string& body = std::string(),
                                std::string* responseHeaders = nullptr) const;

  // The guarded GET of `url` with nothing else added, telling what went
  // wrong. It gives up at the time-out (0 means 90 seconds), when the waits
  // are cancelled, or as soon as `stopped` (asked while it waits) says so;
  // the error is then "time-out" or "stopped".
  HttpResult Get(const std::string& url, int timeoutSeconds = 0,
                 const std::function<bool()>& stopped = nullptr) const;

  // --- URL coding and conversions (web/Coding.h, text/Codec.h). ---
  bool OpenInExplorer(const std::string& address) const { return lanshu::OpenInExplorer(address); }
  std::string UrlEncodeUtf8(const std::string& t) const { return lanshu::UrlEncodeUtf8(t); }
  std::string UrlEncodeGbk(const std::string& t) const { return lanshu::UrlEncodeGbk(t); }
  std::string UrlDecodeUtf8(const std::string& t) const { return lanshu::UrlDecodeUtf8(t); }
  std::string UrlDecodeGbk(const std::string& t) const { return lanshu::UrlDecodeGbk(t); }
  std::string GbkToUtf8(const std::string& text) const { return lanshu::GbkToUtf8(text); }
  std::string Utf8ToGbk(const std::string& utf8) const { return lanshu::Utf8ToGbk(utf8); }
  std::string UnicodeToUtf8(const std::string& u) const { return lanshu::UnicodeToUtf8(u); }
  std::string GbkToUnicode(const std::string& text) const { return lanshu::GbkToUnicode(text); }
  std::string UnicodeToGbk(const std::string& u) const { return lanshu::UnicodeToGbk(u); }
  std::string Utf8ToUnicode(const std::string& utf8) const { return lanshu::Utf8ToUnicode(utf8); }

  // --- Address splitting ("http://" or "https://", or no scheme at all). ---
  static std::string UrlHost(const std::string& url, bool keepPort = false);
  static std::string UrlPath(const std::string& url);
  static std::int32_t UrlPort(const std::string& url);

  // The time-out a guarded request waits for: the argument when positive, else 90.
  static int EffectiveTimeoutSeconds(int timeoutSeconds);

 private:
  std::string Guarded(const std::string& url, const std::string& method,
                      const std::string& proxy, const std::string& userName,
                      const std::string& password, const std::string& headers,
                      const std::string& body, bool bytesBody, int timeoutSeconds,
                      std::string* responseHeaders, const std::function<bool()>& stopped,
                      HttpResult* result) const;

  HttpLimits limits_;
};

// --- Building blocks shared with the link resolver and the webhook. ---

// Short English words for what ended a transfer without a whole response
// ("connection refused", "time-out", ...; "network error" for the rest).
std::string TransferError(CURLcode code);

// Collects the raw header block of the last response a transfer received,
// each line ended by CRLF, the blank line included; trailers are left out.
class ResponseHeaderBlock {
 public:
  // A block larger than `cap` fails the transfer. With `endAtBlock` the
  // transfer ends as soon as a final (non-1xx) block is complete. `body`, when
  // given, is emptied whenever a new response starts (redirects).
  explicit ResponseHeaderBlock(std::size_t cap, bool endAtBlock = false,
                               std::string* body = nullptr)
      : cap_(cap), endAtBlock_(endAtBlock), body_(body) {}
  void Attach(CURL* easy);
  const std::string& Text() const { return text_; }
  bool Complete() const { return complete_; }
  // Value of the first header line called `name` (ignoring case), trimmed.
  std::string Field(const std::string& name) const;

 private:
  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
  std::size_t Take(const char* data, std::size_t len);
  std::size_t cap_;
  bool endAtBlock_;
  std::string* body_;
  std::string text_;
  bool complete_ = false;
  bool interim_ = false;  // the current block is a 1xx answer
};

}  // namespace lanshu
