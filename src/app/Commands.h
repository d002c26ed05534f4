#pragma once
// The window's commands around the rank list and the mining results: export
// and copy, sorting by a header click, the find dialog, the popup menu's
// small commands, the folder choice and the introduction text.
#include <QPointer>
#include <QString>
#include <functional>
#include <string>

#include "app/Dialogs.h"
#include "app/Settings.h"

class QWidget;

namespace lanshu {

class ConfigStore;
class KeywordMining;
class ListViewTable;
class MainWindow;
struct SaveDialogSpec;

// The save dialog: returns the chosen path, or the empty text when cancelled.
using SaveFileHook = std::function<QString(QWidget* owner, const SaveDialogSpec& spec)>;
// The folder browser: returns the chosen folder, or the empty text.
using FolderHook = std::function<QString(QWidget* owner, const QString& title, const QString& start)>;
void SetSaveFileHook(SaveFileHook hook);
// Asks for a file to save to, through the hook when one is set.
QString AskSaveFileName(QWidget* owner, const SaveDialogSpec& spec);
void SetFolderHook(FolderHook hook);

class WindowCommands {
 public:
  WindowCommands(MainWindow& window, ListViewTable& list, ConfigStore& store, KeywordMining& mining,
                 const SiteAddresses& sites);
  ~WindowCommands();

  void ExportRankList();
  void CopyRankList();
  void ExportMiningResults();
  void CopyMiningResults();
  void HeaderClicked(int column);
  void OpenFindDialog();
  void FindNext();
  void CopyRow();
  void SearchKeyword();
  void VisitPage();
  void ChooseFolder();
  void ShowIntroduction();
  // Shows text in the text dialog, modally; does nothing while one is open.
  void ShowTextDialog(const std::string& text, const std::string& prompt = std::string(),
                      const std::string& title = std::string(), bool readOnly = false);
  // The introduction text (GBK, lines joined by "\r\n").
  std::string IntroductionText() const;

  FindDialog* Find() const { return find_; }
  TextDialog* Text() const { return text_; }
  bool SortAscending() const { return sortAscending_; }

 private:
  MainWindow& w_;
  ListViewTable& list_;
  ConfigStore& store_;
  KeywordMining& mining_;
  SiteAddresses sites_;
  bool sortAscending_ = false;
  QPointer<FindDialog> find_;
  QPointer<TextDialog> text_;
};

}  // namespace lanshu
