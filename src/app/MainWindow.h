#pragma once
// The main window: a strip of picture buttons, a tab control with its pages
// (rank query, keyword mining, login browser, notice, history, schedule) and
// a status bar. Every
// control carries its given name as objectName and member name.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QFrame>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeView>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "app/ResultTextBox.h"
#include "results/Export.h"

class QWebEngineView;

namespace lanshu {

class ImageButton;
class LinkLabel;
class TabControl;

// The design values of the save dialog `通用对话框1`, shared by both export
// buttons; the filter index is the only value that changes at run time.
struct SaveDialogSpec {
  QString title;
  QString filter;          // entries separated by "|" pairs, as designed
  QString defaultSuffix;
  int filterIndex = 0;     // 0-based entry shown first
  QString suggestedName;   // the file name offered, set before each export
  // When set, the dialog also offers the text's encoding, starting from this
  // one, and leaves the choice here.
  TextEncoding* encoding = nullptr;
};

class MainWindow : public QWidget {
  Q_OBJECT
 public:
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // Design-time address of the user page (the initial content of 编辑框网址).
  QString UserPageAddress() const { return userPageAddress_; }
  void SetUserPageAddress(const QString& address);

  // Status bar part 0.
  void SetStatusText(const QString& text) {
    状态条文字->setText(text);
    emit statusChanged(text);
  }
  QString StatusText() const { return 状态条文字->text(); }

  // The two enabling rules.
  void ApplyExportModeRule();
  void ApplySaveDirectoryRule();

  // Window level.
  QWidget* 图片框1 = nullptr;
  QLabel* 标签9 = nullptr;
  TabControl* 选择夹 = nullptr;
  QWidget* 历史页 = nullptr;
  QStatusBar* 状态条 = nullptr;
  // Top strip.
  ImageButton* 图片保存配置 = nullptr;
  LinkLabel* 文字保存配置 = nullptr;
  ImageButton* 图片疑点说明 = nullptr;
  LinkLabel* 文字疑点说明 = nullptr;
  ImageButton* 图片青篱软件 = nullptr;
  QTimer* 时钟官网 = nullptr;
  // Page 1 "百度排名".
  QLabel* 标签4 = nullptr;
  QLineEdit* 编辑框域名 = nullptr;
  QComboBox* 组合框排序 = nullptr;
  QWidget* 图片框2 = nullptr;
  QPushButton* 按钮开始采集 = nullptr;
  QLabel* 标签10 = nullptr;
  QLineEdit* 编辑框表达式 = nullptr;
  QComboBox* 组合框导出模式 = nullptr;
  QPushButton* 按钮导出 = nullptr;
  QPushButton* 按钮复制 = nullptr;
  QCheckBox* 选择框自动过滤重复关键字 = nullptr;
  QCheckBox* 选择框转换百度链接 = nullptr;
  QTreeView* 列表框 = nullptr;
  SaveDialogSpec 通用对话框1;
  // The encoding of text exports, as the settings hold it and the export
  // dialogs last chose it.
  TextEncoding exportEncoding = TextEncoding::kGbk;
  // Page 2 "关键词挖掘".
  QLabel* 标签6 = nullptr;
  QPushButton* 按钮粘贴 = nullptr;
  QPlainTextEdit* 编辑框关键词列表 = nullptr;
  QLabel* 标签5 = nullptr;
  QCheckBox* 选择框搜索量 = nullptr;
  QCheckBox* 选择框收录量 = nullptr;
  QCheckBox* 选择框第一位 = nullptr;
  QCheckBox* 选择框第二位 = nullptr;
  QCheckBox* 选择框优化难度 = nullptr;
  QLabel* 标签8 = nullptr;
  QLineEdit* 编辑框限定数量 = nullptr;
  QWidget* 图片框3 = nullptr;
  QPushButton* 按钮开始挖掘 = nullptr;
  QPushButton* 按钮复制1 = nullptr;
  QPushButton* 按钮1 = nullptr;
  ResultTextBox* 编辑框结果关键词 = nullptr;  // read-only, holds a run's lines as GBK
  QCheckBox* 选择框自动保存目录 = nullptr;
  QLineEdit* 编辑框目录 = nullptr;
  QPushButton* 按钮选择 = nullptr;
  QLineEdit* 编辑框扩展名 = nullptr;
  QCheckBox* 选择框独立保存 = nullptr;
  QCheckBox* 选择框保留加入 = nullptr;
  QLabel* 标签2 = nullptr;
  QLineEdit* 编辑框页间隔 = nullptr;
  QLabel* 标签3 = nullptr;
  QLineEdit* 编辑框关键词间隔 = nullptr;
  // Page 3 "登录览数".
  QLabel* 标签1 = nullptr;
  QPushButton* 按钮跳到 = nullptr;
  QPushButton* 按钮后退 = nullptr;
  QPushButton* 按钮刷新 = nullptr;
  QLineEdit* 编辑框网址 = nullptr;
  QWebEngineView* 浏览框 = nullptr;
  QTimer* 时钟1 = nullptr;
  // Page 4 "无法获取数据请看".
  QLabel* 标签7 = nullptr;
  LinkLabel* 超级链接框2 = nullptr;
  LinkLabel* 超级链接框3 = nullptr;
  // Page 6 "定时与通知" (filled by CreateSchedulePage, in SchedulePage.cpp):
  // section "定时采集" and the notification settings of section "通知".
  QWidget* 定时页 = nullptr;
  QCheckBox* 选择框定时启用 = nullptr;
  QLineEdit* 编辑框定时时间 = nullptr;
  QLabel* 标签定时时间说明 = nullptr;
  QComboBox* 组合框定时任务 = nullptr;
  QCheckBox* 选择框无人值守 = nullptr;
  QLineEdit* 编辑框通知网址 = nullptr;
  QComboBox* 组合框通知格式 = nullptr;
  QLineEdit* 编辑框排名变化 = nullptr;
  // The hidden menu "文件", shown as the list's popup menu.
  QMenu* 文件 = nullptr;
  QAction* 菜单复制一行 = nullptr;
  QAction* 菜单查找定位 = nullptr;
  QAction* 菜单百度一下 = nullptr;
  QAction* 菜单访问收录页 = nullptr;
  QAction* 菜单清空列表 = nullptr;
  QAction* 菜单重试失败页 = nullptr;  // collects the last run's pages not ok again
  QAction* 菜单重试失败页1 = nullptr;  // the same for keyword mining, in the result box's menu

  // A run's progress, beside the status text while a run goes.
  QProgressBar* 进度条 = nullptr;
  QLabel* 进度文字 = nullptr;
  // Shown while a run waits for the user at a login or verification page,
  // between the top strip and the tabs.
  QFrame* 拦截提示条 = nullptr;
  QLabel* 拦截提示文字 = nullptr;
  QPushButton* 按钮继续 = nullptr;
  QPushButton* 按钮跳过 = nullptr;
  QPushButton* 按钮停止 = nullptr;
  // Shown at start-up when a run did not finish: go on with it, or give it
  // up. Below the blocked-page bar when both show.
  QFrame* 继续提示条 = nullptr;
  QLabel* 继续提示文字 = nullptr;
  QPushButton* 按钮继续上次 = nullptr;
  QPushButton* 按钮放弃 = nullptr;

 signals:
  // The window is about to close (after the settings were saved by a handler).
  void closing();
  // Status bar part 0 got a new text.
  void statusChanged(const QString& text);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 public:
  // Handlers that other parts of the program install; each runs on the GUI
  // thread when its control's event fires. Unset handlers do nothing.
  struct Handlers {
    std::function<void()> saveSettingsCommand, showIntroduction, startStopRank, exportRank, copyRank,
        startStopMining, exportMining, copyMining, chooseFolder, copyRow, openFind, searchKeyword, visitPage,
        clearList, openRankSiteHome, openKeywordSiteHome, retryFailedPages, retryFailedMiningPages;
    // True while a run loads pages in the browser: the user page then waits.
    std::function<bool()> browserBusy;
    std::function<void(int)> headerClicked;
    // The close query; false keeps the window open for now.
    std::function<bool()> aboutToClose;
  } handlers;

  // Relayout for the current client size (also called on every resize).
  void Relayout();
  // The client size the controls were placed for, and the smallest one at
  // which every control still fits its tab.
  static constexpr int kDesignWidth = 990, kDesignHeight = 602;
  static constexpr int kMinimumWidth = 966, kMinimumHeight = 480;
  // The tab control's top below the top strip; the blocked-page bar takes
  // that place while it shows, and the tab control goes down by its height.
  static constexpr int kTabsTop = 91;
  // One tick of the logo timer.
  void MoveLogo();
  // The logo moves only while someone can see it: not while the window is
  // hidden or minimised.
  void KeepLogoMoving();
  // The user-page loading of 时钟1 (runs once).
  void LoadUserPage();

 private:
  void CreateTopStrip();
  void CreateRankPage(QWidget* page);
  void CreateMiningPage(QWidget* page);
  void CreateLoginPage(QWidget* page);
  void CreateNoticePage(QWidget* page);
  void CreateSchedulePage(QWidget* page);
  void CreatePopupMenu();
  void CreateBlockedBar();
  void CreateResumeBar();
  QFrame* MakeBar(const char* name, const QColor& color);
  void Connect();
  // How a control follows the window's size: it moves with the right or the
  // bottom edge, or grows with the width or the height.
  enum Edge { kMoveRight = 1, kGrowWide = 2, kMoveDown = 4, kGrowTall = 8 };
  void Anchor(QWidget* control, int edges);
  void AnchorControls();
  struct Anchored {
    QWidget* control;
    QRect design;
    int edges;
  };
  std::vector<Anchored> anchored_;

  QLabel* 状态条文字 = nullptr;
  QString userPageAddress_;
  bool logoToRight_ = true;
};

}  // namespace lanshu
