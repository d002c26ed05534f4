#pragma once
// Helpers shared by the window tests.
#include <QElapsedTimer>
#include <QFile>
#include <QProcessEnvironment>
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
