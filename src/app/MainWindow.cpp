#include "app/MainWindow.h"

#include <algorithm>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QHeaderView>
#include <QDir>
#include <QRegularExpressionValidator>
#include <QWebEngineView>

#include "app/QtText.h"
#include "app/RunControls.h"
#include "app/Widgets.h"
#include "web/Coding.h"
#include "hooks/Events.h"

namespace lanshu {
namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, int x, int y, int w, int h, const char* text) {
  auto* label = Named(new QLabel(QString::fromUtf8(text), parent), name, x, y, w, h);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, int x, int y, int w, int h, const char* text) {
  return Named(new QLineEdit(QString::fromUtf8(text), parent), name, x, y, w, h);
}

QPushButton* MakeButton(QWidget* parent, const char* name, int x, int y, int w, int h, const char* text) {
  return Named(new QPushButton(QString::fromUtf8(text), parent), name, x, y, w, h);
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, int x, int y, int w, int h, const char* text,
                     bool checked = false) {
  auto* box = Named(new QCheckBox(QString::fromUtf8(text), parent), name, x, y, w, h);
  box->setChecked(checked);
  return box;
}

QComboBox* MakeCombo(QWidget* parent, const char* name, int x, int y, int w, int h,
                     std::vector<const char*> items) {
  auto* combo = Named(new QComboBox(parent), name, x, y, w, h);
  for (const char* item : items) combo->addItem(QString::fromUtf8(item));
  combo->setCurrentIndex(0);
  return combo;
}

QPlainTextEdit* MakeMultiLine(QWidget* parent, const char* name, int x, int y, int w, int h,
                              const char* text) {
  auto* edit = Named(new QPlainTextEdit(parent), name, x, y, w, h);
  edit->setPlainText(QString::fromUtf8(text));
  edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  edit->setLineWrapMode(QPlainTextEdit::NoWrap);
  return edit;
}

void CentreWithPattern(QLineEdit* edit, const char* pattern) {
  edit->setAlignment(Qt::AlignCenter);
  edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QString::fromUtf8(pattern)), edit));
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("窗口"));
  setWindowTitle(QStringLiteral("青篱·览数数据采集器 v3.4 - 导出览数上的百度排名和关键词挖掘数据"));
  setGeometry(50, 50, 990, 602);

  CreateTopStrip();
  标签9 = Named(new QLabel(this), "标签9", 0, 88, 1002, 2);
  标签9->setFrameStyle(QFrame::HLine | QFrame::Sunken);

  选择夹 = Named(new TabControl(this), "选择夹", 0, kTabsTop, 984, 457);
  CreateRankPage(选择夹->AddPage(QStringLiteral("百度排名")));
  CreateMiningPage(选择夹->AddPage(QStringLiteral("关键词挖掘")));
  CreateLoginPage(选择夹->AddPage(QStringLiteral("登录览数")));
  CreateNoticePage(选择夹->AddPage(QStringLiteral("无法获取数据请看")));
  历史页 = 选择夹->AddPage(QStringLiteral("历史记录"));  // filled by HistoryTab
  定时页 = 选择夹->AddPage(QStringLiteral("定时与通知"));
  CreateSchedulePage(定时页);

  状态条 = Named(new QStatusBar(this), "状态条", 0, 481, 882, 20);
  状态条->setSizeGripEnabled(false);
  状态条文字 = new QLabel(状态条);
  状态条->addWidget(状态条文字, 1);
  进度文字 = new QLabel(状态条);
  进度文字->setObjectName(QStringLiteral("进度文字"));
  进度条 = new QProgressBar(状态条);
  进度条->setObjectName(QStringLiteral("进度条"));
  进度条->setMaximumWidth(160);
  进度条->setMaximumHeight(16);
  状态条->addPermanentWidget(进度文字);
  状态条->addPermanentWidget(进度条);
  进度文字->hide();
  进度条->hide();
  CreateBlockedBar();
  CreateResumeBar();

  CreatePopupMenu();
  AnchorControls();
  setMinimumSize(kMinimumWidth, kMinimumHeight);
  Connect();
  ApplyExportModeRule();
  ApplySaveDirectoryRule();
  Relayout();
  时钟1->start();
}

MainWindow::~MainWindow() = default;

void MainWindow::CreateTopStrip() {
  图片框1 = Named(new QWidget(this), "图片框1", 0, 0, 1000, 88);
  图片保存配置 = Named(new ImageButton(DrawSavePicture(false), DrawSavePicture(true), 图片框1),
                       "图片保存配置", 16, 0, 64, 64);
  文字保存配置 = Named(new LinkLabel(QStringLiteral("保存配置"), 图片框1), "文字保存配置", 16, 64, 64, 24);
  图片疑点说明 = Named(new ImageButton(DrawHelpPicture(false), DrawHelpPicture(true), 图片框1),
                       "图片疑点说明", 96, 0, 64, 64);
  文字疑点说明 = Named(new LinkLabel(QStringLiteral("疑点说明"), 图片框1), "文字疑点说明", 96, 64, 64, 24);
  文字保存配置->setAlignment(Qt::AlignCenter);
  文字疑点说明->setAlignment(Qt::AlignCenter);
  图片青篱软件 = Named(new ImageButton(DrawLogoPicture(false), DrawLogoPicture(true), 图片框1),
                       "图片青篱软件", 384, 12, 195, 64);
  时钟官网 = new QTimer(this);
  时钟官网->setObjectName(QStringLiteral("时钟官网"));
  时钟官网->setInterval(20);
}

void MainWindow::CreateRankPage(QWidget* p) {
  标签4 = MakeLabel(p, "标签4", 8, 45, 48, 24, "域名：");
  编辑框域名 = MakeEdit(p, "编辑框域名", 57, 45, 711, 24, design::kDomains);
  组合框排序 = MakeCombo(p, "组合框排序", 772, 45, 76, 23, std::vector<const char*>({std::begin(design::kSortItems), std::end(design::kSortItems)}));
  图片框2 = Named(new QWidget(p), "图片框2", 856, 44, 112, 27);
  按钮开始采集 = MakeButton(图片框2, "按钮开始采集", 0, 0, 104, 24, "开始采集");
  标签10 = MakeLabel(p, "标签10", 8, 77, 48, 24, "导出：");
  编辑框表达式 = MakeEdit(p, "编辑框表达式", 56, 77, 213, 24, design::kTemplate);
  组合框导出模式 = MakeCombo(p, "组合框导出模式", 275, 77, 153, 23,
                           std::vector<const char*>({std::begin(design::kExportItems), std::end(design::kExportItems)}));
  按钮导出 = MakeButton(p, "按钮导出", 433, 77, 98, 24, "导出结果..");
  按钮复制 = MakeButton(p, "按钮复制", 534, 77, 106, 24, "复制结果");
  选择框自动过滤重复关键字 = MakeCheck(p, "选择框自动过滤重复关键字", 672, 77, 168, 24, design::kFilter);
  选择框转换百度链接 = MakeCheck(p, "选择框转换百度链接", 856, 77, 125, 24, design::kConvert);

  列表框 = Named(new QTreeView(p), "列表框", 8, 109, 1000, 322);
  列表框->setRootIsDecorated(false);
  列表框->setUniformRowHeights(true);
  列表框->setItemsExpandable(false);
  列表框->setAllColumnsShowFocus(true);
  列表框->setSelectionBehavior(QAbstractItemView::SelectRows);
  列表框->setSelectionMode(QAbstractItemView::SingleSelection);
  列表框->setEditTriggers(QAbstractItemView::NoEditTriggers);
  列表框->setContextMenuPolicy(Qt::CustomContextMenu);
  列表框->header()->setSectionsClickable(true);
  列表框->header()->setSectionsMovable(false);
  列表框->header()->setStretchLastSection(false);
  列表框->header()->setSortIndicatorShown(false);

  通用对话框1.title = QStringLiteral("导出列表到文件：");
  通用对话框1.filter = QStringLiteral("文本文件|*.txt|\r\ncsv文件|*.csv|\r\nExcel 工作簿|*.xlsx|\r\n全部文件|*.*");
  通用对话框1.defaultSuffix = QStringLiteral("txt");
  通用对话框1.encoding = &exportEncoding;
  通用对话框1.filterIndex = 0;
}

void MainWindow::CreateMiningPage(QWidget* p) {
  标签6 = MakeLabel(p, "标签6", 8, 48, 168, 24, "待挖掘关键词：");
  按钮粘贴 = MakeButton(p, "按钮粘贴", 176, 48, 56, 24, "粘贴");
  编辑框关键词列表 = MakeMultiLine(p, "编辑框关键词列表", 8, 72, 224, 360, design::kKeywords);
  标签5 = MakeLabel(p, "标签5", 248, 48, 88, 24, "挖掘结果：");
  选择框搜索量 = MakeCheck(p, "选择框搜索量", 336, 48, 80, 24, design::kVolume);
  选择框收录量 = MakeCheck(p, "选择框收录量", 416, 48, 80, 24, design::kIndexed);
  选择框第一位 = MakeCheck(p, "选择框第一位", 504, 48, 80, 24, design::kFirstSite);
  选择框第二位 = MakeCheck(p, "选择框第二位", 592, 48, 80, 24, design::kSecondSite);
  选择框优化难度 = MakeCheck(p, "选择框优化难度", 680, 48, 96, 24, design::kDifficulty);
  标签8 = MakeLabel(p, "标签8", 808, 48, 120, 24, "最多挖掘数量：");
  编辑框限定数量 = MakeEdit(p, "编辑框限定数量", 920, 48, 48, 24, design::kLimit);
  CentreWithPattern(编辑框限定数量, "[0-9]*");
  图片框3 = Named(new QWidget(p), "图片框3", 245, 79, 467, 25);
  按钮开始挖掘 = MakeButton(图片框3, "按钮开始挖掘", 1, 1, 450, 24, "开始挖掘");
  按钮复制1 = MakeButton(p, "按钮复制1", 698, 80, 128, 24, "复制结果");
  按钮1 = MakeButton(p, "按钮1", 828, 80, 140, 24, "导出结果为csv");
  编辑框结果关键词 = Named(new ResultTextBox(p), "编辑框结果关键词", 248, 104, 720, 263);
  选择框自动保存目录 = MakeCheck(p, "选择框自动保存目录", 248, 376, 120, 24, design::kAutoSave);
  编辑框目录 = MakeEdit(p, "编辑框目录", 368, 376, 504, 24, design::ResultFolder().c_str());
  按钮选择 = MakeButton(p, "按钮选择", 876, 376, 48, 24, "选择");
  编辑框扩展名 = MakeEdit(p, "编辑框扩展名", 928, 376, 40, 24, design::kExtension);
  编辑框扩展名->setAlignment(Qt::AlignCenter);
  选择框独立保存 = MakeCheck(p, "选择框独立保存", 248, 408, 168, 24, design::kSeparate);
  选择框保留加入 = MakeCheck(p, "选择框保留加入", 424, 408, 128, 24, design::kKeepSeed, true);
  标签2 = MakeLabel(p, "标签2", 608, 408, 96, 24, "换页间隔秒：");
  编辑框页间隔 = MakeEdit(p, "编辑框页间隔", 704, 408, 48, 24, design::kPageInterval);
  CentreWithPattern(编辑框页间隔, "[0-9.]*");
  标签3 = MakeLabel(p, "标签3", 792, 408, 128, 24, "换关键词间隔秒：");
  编辑框关键词间隔 = MakeEdit(p, "编辑框关键词间隔", 920, 408, 48, 24, design::kKeywordInterval);
  CentreWithPattern(编辑框关键词间隔, "[0-9.]*");
}

void MainWindow::CreateLoginPage(QWidget* p) {
  标签1 = MakeLabel(p, "标签1", 8, 40, 368, 24, "关于览数的帐号的权限问题，您可以到用户后台查看：");
  按钮跳到 = MakeButton(p, "按钮跳到", 376, 40, 56, 24, "跳到");
  按钮后退 = MakeButton(p, "按钮后退", 436, 40, 48, 24, "后退");
  按钮刷新 = MakeButton(p, "按钮刷新", 488, 40, 48, 24, "刷新");
  编辑框网址 = MakeEdit(p, "编辑框网址", 540, 40, 444, 24, "");
  浏览框 = Named(new QWebEngineView(p), "浏览框", 8, 64, 816, 392);
  浏览框->setUrl(QUrl(QStringLiteral("about:blank")));
  时钟1 = new QTimer(this);
  时钟1->setObjectName(QStringLiteral("时钟1"));
  时钟1->setInterval(2000);
}

void MainWindow::CreateNoticePage(QWidget* p) {
  标签7 = MakeLabel(p, "标签7", 24, 56, 712, 71,
                    "\n每天访问览数的站长很多，尤其是高峰期，会偶尔造成览数无法访问的情况。\n"
                    "因此当网络拥堵时，本程序也是无法读取到数据的，结果自然为空！\n"
                    "这时请稍后再试。可以点击下面链接在浏览器中打开览数来测试是否访问畅通！");
  标签7->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  标签7->setWordWrap(false);
  超级链接框2 = Named(new LinkLabel(QStringLiteral("百度排名查询页>>>"), p), "超级链接框2", 72, 144, 152, 24);
  超级链接框3 = Named(new LinkLabel(QStringLiteral("关键词挖掘页>>>"), p), "超级链接框3", 256, 144, 152, 24);
}

// A bar between the top strip and the tabs; hidden until needed, and
// watched, since showing or hiding it moves the tabs.
QFrame* MainWindow::MakeBar(const char* name, const QColor& color) {
  QFrame* bar = Named(new QFrame(this), name, 0, kTabsTop, 990, 26);
  bar->setAutoFillBackground(true);
  QPalette palette = bar->palette();
  palette.setColor(QPalette::Window, color);
  bar->setPalette(palette);
  bar->setFrameStyle(QFrame::StyledPanel | QFrame::Plain);
  bar->hide();
  bar->installEventFilter(this);
  return bar;
}

void MainWindow::CreateBlockedBar() {
  拦截提示条 = MakeBar("拦截提示条", QColor(0xFF, 0xF4, 0xCE));
  拦截提示文字 = MakeLabel(拦截提示条, "拦截提示文字", 8, 1, 700, 24, "");
  按钮继续 = MakeButton(拦截提示条, "按钮继续", 720, 1, 60, 24, "继续");
  按钮跳过 = MakeButton(拦截提示条, "按钮跳过", 784, 1, 60, 24, "跳过");
  按钮停止 = MakeButton(拦截提示条, "按钮停止", 848, 1, 60, 24, "停止");
}

void MainWindow::CreateResumeBar() {
  继续提示条 = MakeBar("继续提示条", QColor(0xE8, 0xF2, 0xFE));
  继续提示文字 = MakeLabel(继续提示条, "继续提示文字", 8, 1, 300, 24, "");
  按钮继续上次 = MakeButton(继续提示条, "按钮继续上次", 520, 1, 320, 24, "");
  按钮放弃 = MakeButton(继续提示条, "按钮放弃", 848, 1, 60, 24, "放弃");
}

void MainWindow::CreatePopupMenu() {
  文件 = new QMenu(QStringLiteral("文件"), this);
  文件->setObjectName(QStringLiteral("文件"));
  菜单复制一行 = 文件->addAction(QStringLiteral("复制一行"));
  文件->addSeparator();
  菜单查找定位 = 文件->addAction(QStringLiteral("查找定位.."));
  文件->addSeparator();
  菜单百度一下 = 文件->addAction(QStringLiteral("百度一下"));
  文件->addSeparator();
  菜单访问收录页 = 文件->addAction(QStringLiteral("访问收录页"));
  文件->addSeparator();
  菜单清空列表 = 文件->addAction(QStringLiteral("清空列表"));
  文件->addSeparator();
  菜单重试失败页 = 文件->addAction(QStringLiteral("重试失败页"));
  菜单重试失败页->setObjectName(QStringLiteral("菜单重试失败页"));
  // The result box keeps its own editing menu; the command is added below it.
  菜单重试失败页1 = new QAction(QStringLiteral("重试失败页"), this);
  菜单重试失败页1->setObjectName(QStringLiteral("菜单重试失败页1"));
  编辑框结果关键词->setContextMenuPolicy(Qt::CustomContextMenu);
}

void MainWindow::SetUserPageAddress(const QString& address) {
  userPageAddress_ = address;
  编辑框网址->setText(address);
}

void MainWindow::Connect() {
  auto call = [](const std::function<void()>& f) {
    if (f) f();
  };
  connect(时钟官网, &QTimer::timeout, this, &MainWindow::MoveLogo);
  connect(时钟1, &QTimer::timeout, this, &MainWindow::LoadUserPage);
  // Enter in the domain field starts a query, as the start button would; it
  // never stops one.
  connect(编辑框域名, &QLineEdit::returnPressed, this, [this, call] {
    if (按钮开始采集->text() == QStringLiteral("开始采集")) call(handlers.startStopRank);
  });
  connect(图片保存配置, &QToolButton::clicked, this, [this, call] { call(handlers.saveSettingsCommand); });
  connect(文字保存配置, &LinkLabel::pressed, this, [this, call] { call(handlers.saveSettingsCommand); });
  connect(图片疑点说明, &QToolButton::clicked, this, [this, call] { call(handlers.showIntroduction); });
  connect(文字疑点说明, &LinkLabel::pressed, this, [this, call] { call(handlers.showIntroduction); });
  connect(按钮开始采集, &QPushButton::clicked, this, [this, call] { call(handlers.startStopRank); });
  connect(组合框导出模式, QOverload<int>::of(&QComboBox::activated), this, &MainWindow::ApplyExportModeRule);
  connect(按钮导出, &QPushButton::clicked, this, [this, call] { call(handlers.exportRank); });
  connect(按钮复制, &QPushButton::clicked, this, [this, call] { call(handlers.copyRank); });
  connect(列表框->header(), &QHeaderView::sectionClicked, this, [this](int column) {
    if (handlers.headerClicked) handlers.headerClicked(column);
  });
  connect(列表框, &QWidget::customContextMenuRequested, this,
          [this] { 文件->popup(QCursor::pos()); });
  connect(菜单复制一行, &QAction::triggered, this, [this, call] { call(handlers.copyRow); });
  connect(菜单查找定位, &QAction::triggered, this, [this, call] { call(handlers.openFind); });
  connect(菜单百度一下, &QAction::triggered, this, [this, call] { call(handlers.searchKeyword); });
  connect(菜单访问收录页, &QAction::triggered, this, [this, call] { call(handlers.visitPage); });
  connect(菜单清空列表, &QAction::triggered, this, [this, call] { call(handlers.clearList); });
  connect(菜单重试失败页, &QAction::triggered, this, [this, call] { call(handlers.retryFailedPages); });
  connect(菜单重试失败页1, &QAction::triggered, this, [this, call] { call(handlers.retryFailedMiningPages); });
  connect(编辑框结果关键词, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    QMenu* menu = 编辑框结果关键词->createStandardContextMenu(at);
    menu->addSeparator();
    menu->addAction(菜单重试失败页1);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(编辑框结果关键词->viewport()->mapToGlobal(at));
  });
  connect(按钮粘贴, &QPushButton::clicked, this,
          [this] { 编辑框关键词列表->setPlainText(QApplication::clipboard()->text()); });
  connect(按钮开始挖掘, &QPushButton::clicked, this, [this, call] { call(handlers.startStopMining); });
  connect(按钮复制1, &QPushButton::clicked, this, [this, call] { call(handlers.copyMining); });
  connect(按钮1, &QPushButton::clicked, this, [this, call] { call(handlers.exportMining); });
  connect(选择框自动保存目录, &QCheckBox::clicked, this, &MainWindow::ApplySaveDirectoryRule);
  connect(按钮选择, &QPushButton::clicked, this, [this, call] { call(handlers.chooseFolder); });
  // An address typed without a scheme is a web address.
  const auto go = [this] {
    浏览框->setUrl(QUrl(FromGbk(AddressWithScheme(ControlTextToGbk(编辑框网址->text())))));
  };
  connect(按钮跳到, &QPushButton::clicked, this, go);
  connect(编辑框网址, &QLineEdit::returnPressed, this, go);
  connect(按钮后退, &QPushButton::clicked, this, [this] { 浏览框->back(); });
  connect(按钮刷新, &QPushButton::clicked, this, [this] { 浏览框->reload(); });
  connect(浏览框, &QWebEngineView::titleChanged, this,
          [this] { 编辑框网址->setText(浏览框->url().toString()); });
  connect(超级链接框2, &LinkLabel::pressed, this, [this, call] { call(handlers.openRankSiteHome); });
  connect(超级链接框3, &LinkLabel::pressed, this, [this, call] { call(handlers.openKeywordSiteHome); });
}

void MainWindow::Anchor(QWidget* control, int edges) { anchored_.push_back({control, control->geometry(), edges}); }

// The controls keep their places at the design size; beyond it, the ones at
// the right or bottom follow that edge and the boxes that hold results take
// the room.
void MainWindow::AnchorControls() {
  using Controls = std::initializer_list<QWidget*>;
  Anchor(编辑框域名, kGrowWide);
  for (QWidget* c : Controls{组合框排序, 图片框2, 选择框自动过滤重复关键字, 选择框转换百度链接}) Anchor(c, kMoveRight);

  Anchor(编辑框关键词列表, kGrowTall);
  for (QWidget* c : Controls{标签8, 编辑框限定数量, 按钮复制1, 按钮1}) Anchor(c, kMoveRight);
  Anchor(图片框3, kGrowWide);
  Anchor(按钮开始挖掘, kGrowWide);
  Anchor(编辑框结果关键词, kGrowWide | kGrowTall);
  for (QWidget* c : Controls{选择框自动保存目录, 选择框独立保存, 选择框保留加入}) Anchor(c, kMoveDown);
  Anchor(编辑框目录, kMoveDown | kGrowWide);
  for (QWidget* c : Controls{按钮选择, 编辑框扩展名, 标签2, 编辑框页间隔, 标签3, 编辑框关键词间隔})
    Anchor(c, kMoveDown | kMoveRight);
}

void MainWindow::ApplyExportModeRule() { 编辑框表达式->setEnabled(组合框导出模式->currentIndex() == 1); }

void MainWindow::ApplySaveDirectoryRule() {
  const bool on = 选择框自动保存目录->isChecked();
  编辑框目录->setEnabled(on);
  按钮选择->setEnabled(on);
  选择框独立保存->setEnabled(on);
}

void MainWindow::Relayout() {
  const int W = width();
  const int H = height();
  const int barHeight = 状态条->height();
  状态条->setGeometry(0, H - barHeight, W, barHeight);
  // The blocked-page bar sits where the tabs begin and pushes them down; the
  // tabs' bottom stays, so the controls inside lay out as for a window that
  // much lower.
  const int blocked = 拦截提示条->isHidden() ? 0 : 拦截提示条->height();
  const int pushed = blocked + (继续提示条->isHidden() ? 0 : 继续提示条->height());
  拦截提示条->setGeometry(0, kTabsTop, W, 拦截提示条->height());
  继续提示条->setGeometry(0, kTabsTop + blocked, W, 继续提示条->height());
  选择夹->setGeometry(0, kTabsTop + pushed, W, H - kTabsTop - pushed - barHeight);
  列表框->resize(选择夹->width() - 2 * 列表框->x(), 选择夹->height() - 列表框->y() - 列表框->x());
  if (列表框->model() && 列表框->model()->columnCount() >= 2) {
    QHeaderView* header = 列表框->header();
    const int titleColumn = header->count() - 2;  // "网页标题", the second-last column
    int others = 0;
    for (int c = 0; c < header->count(); ++c)
      if (c != titleColumn) others += header->sectionSize(c);
    header->resizeSection(titleColumn, 列表框->width() - others - 10);
  }
  编辑框网址->resize(W - 编辑框网址->x() - 10, 编辑框网址->height());
  // Measured inside the tab, whose top is well below the window's: counted
  // from the window, the browser's bottom would hang below the tab.
  浏览框->resize(W - 浏览框->x() - 10, 选择夹->height() - 浏览框->y() - 10);
  图片框1->resize(W, 图片框1->height());
  标签9->resize(W, 标签9->height());
  按钮停止->move(W - 按钮停止->width() - 12, 按钮停止->y());
  按钮跳过->move(按钮停止->x() - 按钮跳过->width() - 4, 按钮跳过->y());
  按钮继续->move(按钮跳过->x() - 按钮继续->width() - 4, 按钮继续->y());
  拦截提示文字->resize(std::max(0, 按钮继续->x() - 拦截提示文字->x() - 8), 拦截提示文字->height());
  const int dx = W - kDesignWidth, dy = H - kDesignHeight - pushed;
  for (const Anchored& a : anchored_) {
    QRect r = a.design;
    if (a.edges & kMoveRight) r.translate(dx, 0);
    if (a.edges & kMoveDown) r.translate(0, dy);
    if (a.edges & kGrowWide) r.setWidth(r.width() + dx);
    if (a.edges & kGrowTall) r.setHeight(r.height() + dy);
    a.control->setGeometry(r);
  }
}

void MainWindow::MoveLogo() {
  const int W = width();
  if (logoToRight_) {
    图片青篱软件->move(图片青篱软件->x() + 1, 图片青篱软件->y());
    if (图片青篱软件->x() + 图片青篱软件->width() > W - 20) logoToRight_ = false;
  } else {
    图片青篱软件->move(图片青篱软件->x() - 1, 图片青篱软件->y());
    if (图片青篱软件->x() <= 340) logoToRight_ = true;
  }
}

void MainWindow::KeepLogoMoving() {
  const bool seen = isVisible() && !isMinimized();
  if (seen && !时钟官网->isActive()) 时钟官网->start();
  if (!seen && 时钟官网->isActive()) 时钟官网->stop();
}

void MainWindow::LoadUserPage() {
  // A run's page in the browser is never replaced: the user page waits
  // until the run has ended.
  if (handlers.browserBusy && handlers.browserBusy()) return;  // 时钟1 asks again
  时钟1->stop();  // runs once
  浏览框->setUrl(QUrl(userPageAddress_));
  // Asked once more half a second later, without waiting here for it.
  QTimer::singleShot(500, this, [this] {
    if (handlers.browserBusy && handlers.browserBusy()) return;
    浏览框->setUrl(QUrl(userPageAddress_));
  });
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Relayout();
}

void MainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  KeepLogoMoving();
}

void MainWindow::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  KeepLogoMoving();
}

void MainWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange) KeepLogoMoving();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == 拦截提示条 || watched == 继续提示条) &&
      (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent))
    Relayout();
  return QWidget::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (handlers.aboutToClose && !handlers.aboutToClose()) {
    event->ignore();
    return;
  }
  emit closing();
  event->accept();
}

}  // namespace lanshu
