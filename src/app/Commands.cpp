#include "app/Commands.h"

#include <QApplication>
#include <QClipboard>
#include <QDate>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QHeaderView>

#include "app/Dialogs.h"
#include "app/MainWindow.h"
#include "app/CheckBoxControl.h"
#include "app/QtText.h"
#include "app/ResultListModel.h"
#include "mining/Mining.h"
#include "results/Export.h"
#include "results/Find.h"
#include "results/Sort.h"
#include "results/Xlsx.h"
#include "store/ConfigStore.h"
#include "hooks/MessageBox.h"
#include "web/Coding.h"

namespace lanshu {
namespace {

SaveFileHook& TheSaveFileHook() {
  static SaveFileHook hook;
  return hook;
}
FolderHook& TheFolderHook() {
  static FolderHook hook;
  return hook;
}

// "文本文件|*.txt|\r\ncsv文件|*.csv|\r\n全部文件|*.*" as Qt's name filters.
QStringList NameFilters(const QString& designed) {
  QStringList filters;
  const QStringList parts = designed.split(QLatin1Char('|'));
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    const QString name = parts[i].trimmed();
    if (name.isEmpty()) continue;
    filters << name + QStringLiteral(" (") + QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' ')) +
                   QLatin1Char(')');
  }
  return filters;
}

QString AskSaveFile(QWidget* owner, const SaveDialogSpec& spec) {
  if (TheSaveFileHook()) return TheSaveFileHook()(owner, spec);
  QFileDialog dialog(owner, spec.title);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  const QStringList filters = NameFilters(spec.filter);
  dialog.setNameFilters(filters);
  auto suffixOf = [&](const QString& filter) {
    const int star = filter.indexOf(QStringLiteral("*."));
    const QString ext = star < 0 ? QString() : filter.mid(star + 2).section(QLatin1Char(')'), 0, 0);
    return ext.isEmpty() || ext == QLatin1String("*") ? spec.defaultSuffix : ext;
  };
  if (spec.filterIndex >= 0 && spec.filterIndex < filters.size()) {
    dialog.selectNameFilter(filters[spec.filterIndex]);
    dialog.setDefaultSuffix(suffixOf(filters[spec.filterIndex]));
  } else {
    dialog.setDefaultSuffix(spec.defaultSuffix);
  }
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                   [&](const QString& f) { dialog.setDefaultSuffix(suffixOf(f)); });
  if (!spec.suggestedName.isEmpty()) dialog.selectFile(spec.suggestedName);
  // The encoding is a row of the dialog itself, below the file type, so the
  // choice is made with the file; only Qt's own dialog takes the row.
  QComboBox* encoding = nullptr;
  if (spec.encoding) {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
      encoding = new QComboBox(&dialog);
      encoding->addItems({QStringLiteral("GBK"), QStringLiteral("UTF-8")});
      encoding->setCurrentIndex(*spec.encoding == TextEncoding::kUtf8Bom ? 1 : 0);
      const int row = grid->rowCount();
      grid->addWidget(new QLabel(QStringLiteral("编码："), &dialog), row, 0);
      grid->addWidget(encoding, row, 1);
    }
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  if (encoding) *spec.encoding = encoding->currentIndex() == 1 ? TextEncoding::kUtf8Bom : TextEncoding::kGbk;
  return dialog.selectedFiles().first();
}

QString AskFolder(QWidget* owner, const QString& title, const QString& start) {
  if (TheFolderHook()) return TheFolderHook()(owner, title, start);
  return QFileDialog::getExistingDirectory(owner, title, start);
}

// The name an export dialog offers: what is exported, today's date, and the
// extension of the filter entry shown first (txt, csv, xlsx, or txt for all
// files).
QString SuggestedName(const std::string& subject, int filterIndex) {
  const QDate today = QDate::currentDate();
  return FromGbk(SuggestedExportName(subject, today.year(), today.month(), today.day(),
                                     filterIndex == 1 ? "csv" : filterIndex == 2 ? "xlsx" : "txt"));
}

void Inform(const char* utf8) { ShowMessageBox(G(utf8), kMbOk | kMbTaskModal, G("信息：")); }

// A text for the clipboard, from the system's GBK text.
void ToClipboard(const std::string& gbk) { QApplication::clipboard()->setText(FromGbk(gbk)); }

// The current cell of a column: the selected row's, empty without a selection.
std::string SelectedCell(ListViewTable& list, int column) {
  const int row = list.SelectedRow();
  return row < 0 ? std::string() : list.CellText(row, column);
}

}  // namespace

void SetSaveFileHook(SaveFileHook hook) { TheSaveFileHook() = std::move(hook); }
QString AskSaveFileName(QWidget* owner, const SaveDialogSpec& spec) { return AskSaveFile(owner, spec); }
void SetFolderHook(FolderHook hook) { TheFolderHook() = std::move(hook); }

WindowCommands::WindowCommands(MainWindow& window, ListViewTable& list, ConfigStore& store, KeywordMining& mining,
                               const SiteAddresses& sites)
    : w_(window), list_(list), store_(store), mining_(mining), sites_(sites) {
  // Rows added or the list emptied: the arrow would claim an order the list
  // no longer has.
  QHeaderView* header = w_.列表框->header();
  auto hide = [header] { header->setSortIndicatorShown(false); };
  QObject::connect(list_.Model(), &QAbstractItemModel::rowsInserted, header, hide);
  QObject::connect(list_.Model(), &QAbstractItemModel::modelReset, header, hide);
}

WindowCommands::~WindowCommands() {
  delete find_.data();
  delete text_.data();
}

void WindowCommands::ExportRankList() {
  const int mode = w_.组合框导出模式->currentIndex();
  if (mode == kExportCsv) w_.通用对话框1.filterIndex = 1;  // the csv entry; it stays there
  w_.通用对话框1.suggestedName = SuggestedName(ControlTextToGbk(w_.编辑框域名->text()), w_.通用对话框1.filterIndex);
  const QString file = AskSaveFile(&w_, w_.通用对话框1);
  if (file.isEmpty()) return;
  const std::string path = ToGbk(file);
  ExportContent content = RankExportContent(list_, mode, ControlTextToGbk(w_.编辑框表达式->text()), path);
  content.encoding = w_.exportEncoding;
  int error = 0;
  std::string reason;
  if (WriteExport(path, content, &error, &reason, nullptr))
    Inform("导出完毕！");
  else
    ShowMessageBox(ExportFailedText(path, error, reason), kMbOk | kMbTaskModal, G("信息："));
}

void WindowCommands::CopyRankList() {
  ToClipboard(BuildRankExport(list_, w_.组合框导出模式->currentIndex(), ControlTextToGbk(w_.编辑框表达式->text())));
  Inform("已根据列组合表达式将列表复制到剪辑板！");
}

void WindowCommands::ExportMiningResults() {
  w_.通用对话框1.suggestedName = SuggestedName(G("关键词挖掘"), w_.通用对话框1.filterIndex);
  const QString file = AskSaveFile(&w_, w_.通用对话框1);
  if (file.isEmpty()) return;
  const std::string name = ToGbk(file);
  ExportContent content = MiningExportContent(w_.编辑框结果关键词->GbkText(), mining_.state.csvHeader, name);
  content.encoding = w_.exportEncoding;
  int error = 0;
  std::string reason;
  if (WriteExport(name, content, &error, &reason, nullptr))
    Inform("导出成功！");
  else
    ShowMessageBox(ExportFailedText(name, error, reason), kMbOk | kMbTaskModal, G("信息："));
}

void WindowCommands::CopyMiningResults() { ToClipboard(w_.编辑框结果关键词->GbkText()); }

void WindowCommands::HeaderClicked(int column) {
  QPointer<QHeaderView> header = w_.列表框->header();
  if (list_.RowCount() == 0) {  // nothing sorted: the header's own flip is undone
    header->setSortIndicatorShown(false);
    return;
  }
  OnRankListHeaderClick(list_, column, sortAscending_);
  if (!header) return;  // the window went while the sort processed events
  header->setSortIndicator(column, sortAscending_ ? Qt::AscendingOrder : Qt::DescendingOrder);
  header->setSortIndicatorShown(true);
}

void WindowCommands::OpenFindDialog() {
  if (find_) {
    find_->raise();
    find_->activateWindow();
    return;
  }
  find_ = new FindDialog(&w_);
  find_->setAttribute(Qt::WA_DeleteOnClose);
  FindDialog* d = find_;
  d->onCreated = [this, d] {
    // Qt selects the first item added to an empty combo box; the dialog wants
    // no selection to mean "【全部列】".
    const bool noneSelected = d->组合框列->currentIndex() < 0;
    for (const std::string& item : FindColumnItems(list_)) d->组合框列->addItem(FromGbk(item));
    if (noneSelected) d->组合框列->setCurrentIndex(d->组合框列->count() - 1);
    std::string text = ControlTextToGbk(d->编辑框字符->text());
    int column = d->组合框列->currentIndex();
    CheckBoxControl ignoreCase(d->选择框忽视);
    LoadFindSettings(store_, text, column, ignoreCase);
    d->编辑框字符->setText(GbkToControlText(text));
    d->组合框列->setCurrentIndex(column);
  };
  d->onClosing = [this, d] {
    CheckBoxControl ignoreCase(d->选择框忽视);
    SaveFindSettings(store_, ControlTextToGbk(d->编辑框字符->text()), d->组合框列->currentIndex(), ignoreCase);
  };
  d->onFind = [this] { FindNext(); };
  d->Created();
  d->show();
}

void WindowCommands::FindNext() {
  if (!find_) return;
  const FindResult result =
      FindNextInList(list_, find_->组合框列->currentIndex(), find_->组合框列->count() - 1,
                     ControlTextToGbk(find_->编辑框字符->text()), find_->选择框忽视->isChecked());
  if (result == FindResult::kNotFound) ShowMessageBox(kNotFoundText, kMbOk | kMbTaskModal, G("信息："));
}

void WindowCommands::CopyRow() {
  const int row = list_.SelectedRow();
  ToClipboard(row < 0 ? std::string() : RowText(list_, row));
}

void WindowCommands::SearchKeyword() {
  OpenInExplorer(sites_.searchSite + "/baidu?word=" + UrlEncodeGbk(SelectedCell(list_, 2)));
}

void WindowCommands::VisitPage() { OpenInExplorer(SelectedCell(list_, 7)); }

void WindowCommands::ChooseFolder() {
  const QString chosen = AskFolder(&w_, QStringLiteral("请选择一个文件夹"), w_.编辑框目录->text());
  const QString path = chosen.trimmed();
  if (!path.isEmpty()) w_.编辑框目录->setText(path);
}

std::string WindowCommands::IntroductionText() const {
  const std::vector<std::string> lines = {
      G("-----------------【软件介绍】-----------------"),
      "",
      G("经常上览数的人，我想对览数的百度排名和关键词挖掘这两个功能非常熟悉。"),
      G("那么本软件就是可以批量查询这两个功能，并将查询出来的数据保存到本地文件中。"),
      "",
      G("百度排名：") + sites_.rankSite + "/baidu/",
      G("关键词挖掘：") + sites_.keywordSite,
      "",
      " ",
      G("-----------------【疑点说明】-----------------"),
      "",
      G("视频教程：") + "http://help.example.com/",
      "",
      G("同时查询多个域名的格式：") + "example.com|example.net|example.org" + G(" 就是以“|”间隔要查询的多个域名"),
      "",
      G("导出或复制时，自由引用列格式：引用 #数字 来代表对应列数据，如 #1 是第一列，#2 是第二列。。"),
  };
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) text += (i ? "\r\n" : "") + lines[i];
  return text;
}

void WindowCommands::ShowIntroduction() { ShowTextDialog(IntroductionText(), "", "", true); }

void WindowCommands::ShowTextDialog(const std::string& text, const std::string& prompt, const std::string& title,
                                    bool readOnly) {
  if (text_) return;  // one at a time
  text_ = new TextDialog(&w_);
  QPointer<TextDialog> dialog = text_;
  dialog->Setup(GbkToControlText(prompt), FromGbk(title.empty() ? G("青篱：") : title), GbkToControlText(text),
                readOnly);
  dialog->exec();
  delete dialog.data();
}

}  // namespace lanshu
