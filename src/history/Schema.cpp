#include "history/Schema.h"

#include <QDir>
#include <QRegularExpression>

namespace lanshu::history::schema {
namespace {

// setup_00_runs.sql -> ("setup", 0); anything else is not a step.
bool ParseStepName(const QString& name, QString& kind, int& number) {
  static const QRegularExpression pattern(QStringLiteral("^(setup|upgrade)_(\\d+)_[A-Za-z0-9_]+\\.sql$"));
  const QRegularExpressionMatch m = pattern.match(name);
  if (!m.hasMatch()) return false;
  kind = m.captured(1);
  number = m.captured(2).toInt();
  return true;
}

int LastKey(const std::map<int, QStringList>& m) { return m.empty() ? 0 : m.rbegin()->first; }

}  // namespace

int Steps::Newest() const { return std::max(LastKey(setup), LastKey(upgrade)); }
int Steps::NewestSetup() const { return LastKey(setup); }

Steps Discover(const QString& folder) {
  Steps steps;
  const QDir root(folder);
  for (const QString& versionName : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    bool isNumber = false;
    const int version = versionName.toInt(&isNumber);
    if (!isNumber || version <= 0) continue;
    std::map<int, QString> setup, upgrade;
    const QDir dir(root.filePath(versionName));
    for (const QString& name : dir.entryList({QStringLiteral("*.sql")}, QDir::Files)) {
      QString kind;
      int number = 0;
      if (!ParseStepName(name, kind, number)) continue;
      (kind == QLatin1String("setup") ? setup : upgrade)[number] = dir.filePath(name);
    }
    for (const auto& [n, path] : setup) steps.setup[version].append(path);
    for (const auto& [n, path] : upgrade) steps.upgrade[version].append(path);
  }
  return steps;
}

QStringList Statements(const QString& sql) {
  QString kept;
  for (const QString& line : sql.split(QLatin1Char('\n'))) {
    if (line.trimmed().startsWith(QLatin1String("--"))) continue;
    kept += line;
    kept += QLatin1Char('\n');
  }
  QStringList statements;
  for (const QString& piece : kept.split(QLatin1Char(';'))) {
    const QString statement = piece.trimmed();
    if (!statement.isEmpty()) statements.append(statement);
  }
  return statements;
}

}  // namespace lanshu::history::schema
