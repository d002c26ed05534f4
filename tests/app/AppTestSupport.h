#pragma once
// Helpers shared by the window tests.
#include <QElapsedTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QTest>
#include <functional>
#include <string>

#include "app/QtText.h"

// Byte-for-byte comparison of two GBK texts, shown as text when they differ.
#define COMPARE_GBK(actual, expected)   \
  do {                                  \
    const std::string a_ = (actual);    \
    const std::string e_ = (expected);  \
    QCOMPARE(lanshu::FromGbk(a_), lanshu::FromGbk(e_)); \
    QVERIFY(a_ == e_);                  \
  } while (0)

namespace lanshu::testing {

// A message box as the recording hook saw it.
struct Message {
  QString title, text;
  int flags;
};

// All bytes of a file; "<missing>" when it cannot be read.
// The environment of the program run as a child process: offscreen, with the
// browser engine's sandbox and background traffic off.
inline QProcessEnvironment ChildEnvironment() {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
  if (!env.contains(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS")))
    env.insert(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"),
               QStringLiteral("--disable-gpu --no-sandbox --disable-background-networking"));
  return env;
}

// A new, empty database named name on the test cluster that ctest starts
// (LANSHU_TEST_PG: its socket folder), as the program's "数据库" setting
// names it; empty, with why, when there is none.
inline QString FreshPostgresqlDatabase(const QString& name, QString& why) {
  const QString socket = qEnvironmentVariable("LANSHU_TEST_PG");
  if (socket.isEmpty()) {
    why = QStringLiteral("LANSHU_TEST_PG is not set: run this test through ctest, which starts the cluster");
    return QString();
  }
  {
    QSqlDatabase admin = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("admin"));
    admin.setHostName(socket);
    admin.setPort(5432);
    admin.setUserName(QStringLiteral("lanshu"));
    admin.setDatabaseName(QStringLiteral("postgres"));
    if (!admin.open()) why = admin.lastError().text();
    QSqlQuery(admin).exec(QStringLiteral("DROP DATABASE IF EXISTS ") + name);
    QSqlQuery create(admin);
    if (why.isEmpty() && !create.exec(QStringLiteral("CREATE DATABASE ") + name)) why = create.lastError().text();
    admin.close();
  }
  QSqlDatabase::removeDatabase(QStringLiteral("admin"));
  if (!why.isEmpty()) return QString();
  return QStringLiteral("postgresql://lanshu@/%1?host=%2&port=5432").arg(name, socket);
}

inline QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Keeps the window's event processing going while a test waits.
inline bool WaitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < ms) QTest::qWait(20);
  return done();
}

}  // namespace lanshu::testing
