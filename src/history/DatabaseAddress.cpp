#include "history/DatabaseAddress.h"

#include <QStringView>

#include "text/Codec.h"

namespace lanshu {
namespace {

// Where the user part begins (after "scheme://"), or -1 for no server address.
// The scheme is matched in any case: a password is taken out even of an
// address the store would not read as a server.
qsizetype UserStart(const QString& address) {
  qsizetype start = 0;
  while (start < address.size() && address.at(start).isSpace()) ++start;
  const QStringView rest = QStringView(address).mid(start);
  for (const QLatin1String scheme : {QLatin1String("postgresql://"), QLatin1String("postgres://")})
    if (rest.startsWith(scheme, Qt::CaseInsensitive)) return start + scheme.size();
  return -1;
}

// Whether the authority reads as host[:port] with a port of digits only (an
// IPv6 host is in brackets, with colons of its own).
bool PlainHostAndPort(QStringView authority) {
  const qsizetype close = authority.lastIndexOf(QLatin1Char(']'));
  const qsizetype colon = authority.lastIndexOf(QLatin1Char(':'));
  if (colon < 0 || colon < close) return true;
  for (QChar c : authority.mid(colon + 1))
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
  return true;
}

}  // namespace

QString AddressWithoutPassword(const QString& address) {
  const qsizetype userStart = UserStart(address);
  if (userStart < 0) return address;
  // The authority (user[:password]@host[:port]) runs to the path, the query
  // or the fragment; the user part ends at its last '@', as a host has none.
  qsizetype authorityEnd = address.size();
  for (qsizetype i = userStart; i < address.size(); ++i) {
    const QChar c = address.at(i);
    if (c == QLatin1Char('/') || c == QLatin1Char('?') || c == QLatin1Char('#')) {
      authorityEnd = i;
      break;
    }
  }
  qsizetype at = address.lastIndexOf(QLatin1Char('@'), authorityEnd - 1);
  if (at < userStart) {
    at = -1;
    // A password with a bare '/', '?' or '#' ends the authority early, and
    // "user:pass" then reads as a host with a port that is no number. Such an
    // address does not connect, but its password must not be kept either:
    // the user part then runs to the address's last '@'.
    const QStringView authority = QStringView(address).mid(userStart, authorityEnd - userStart);
    if (!PlainHostAndPort(authority)) at = address.lastIndexOf(QLatin1Char('@'));
  }
  if (at < 0) return address;
  const qsizetype colon = address.indexOf(QLatin1Char(':'), userStart);
  if (colon < 0 || colon > at) return address;
  return address.left(colon) + address.mid(at);
}

std::string DatabaseSettingToSave(const std::string& gbk) {
  const QString address = QString::fromStdU16String(GbkToU16(gbk));
  const QString kept = AddressWithoutPassword(address);
  return kept == address ? gbk : U16ToGbk(kept.toStdU16String());
}

}  // namespace lanshu
