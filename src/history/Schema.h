#pragma once
// The schema steps: SQL files per engine under a folder per schema version,
//   <root>/<engine>/<version>/setup_<NN>_<what>.sql    build that version from nothing
//   <root>/<engine>/<version>/upgrade_<NN>_<what>.sql  bring the version before it up to it
// run in the order of NN. Only the newest version needs setup steps: an empty
// database is set up at the newest version that has them and upgraded from there.
#include <map>

#include <QString>
#include <QStringList>

namespace lanshu::history::schema {

struct Steps {
  std::map<int, QStringList> setup;    // version -> files, in order
  std::map<int, QStringList> upgrade;  // version -> files, in order
  int Newest() const;
  int NewestSetup() const;
};

// The steps found under folder (a file-system or resource folder of one
// engine); empty when it holds none.
Steps Discover(const QString& folder);

// The statements of an SQL file: "--" comment lines dropped, split at ";".
// The files keep ";" out of literals.
QStringList Statements(const QString& sql);

}  // namespace lanshu::history::schema
