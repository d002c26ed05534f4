#pragma once
// Conversion at the boundary with Qt: the system's texts are GBK with "\r\n"
// line ends; Qt controls hold UTF-16 with "\n".
#include <QString>
#include <string>

#include "text/Codec.h"

namespace lanshu {

inline QString FromGbk(const std::string& text) {
  return QString::fromStdU16String(GbkToU16(text));
}

inline std::string ToGbk(const QString& text) { return U16ToGbk(text.toStdU16String()); }

// A control's text with CR LF line ends, before any conversion.
inline std::u16string ControlTextWide(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  return text.toStdU16String();
}

// A control's text as the system sees it: GBK, CR LF line ends.
inline std::string ControlTextToGbk(QString text) { return U16ToGbk(ControlTextWide(std::move(text))); }

// A system text put into a control: UTF-16, "\n" line ends.
inline QString GbkToControlText(const std::string& text) {
  QString s = FromGbk(text);
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return s;
}

// Literal system texts written in UTF-8 source, as GBK.
inline std::string G(const char* utf8) { return Utf8TextToGbk(utf8); }

}  // namespace lanshu
