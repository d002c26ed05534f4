#include "app/Widgets.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>

namespace lanshu {

LinkLabel::LinkLabel(const QString& text, QWidget* parent) : QLabel(parent) {
  setText(text);
  setCursor(Qt::PointingHandCursor);
  QPalette p = palette();
  p.setColor(QPalette::WindowText, QColor(0, 0, 204));
  setPalette(p);
  QFont f = font();
  f.setUnderline(true);
  setFont(f);
}

void LinkLabel::mousePressEvent(QMouseEvent* event) {
  QLabel::mousePressEvent(event);
  if (event->button() == Qt::LeftButton) emit pressed();
}

ImageButton::ImageButton(const QPixmap& normal, const QPixmap& active, QWidget* parent)
    : QToolButton(parent), normal_(normal), active_(active) {
  setAutoRaise(true);
  setIcon(QIcon(normal_));
  setIconSize(normal_.size());
  setCursor(Qt::PointingHandCursor);
  setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 0; }"));
}

void ImageButton::enterEvent(QEnterEvent* event) {
  setIcon(QIcon(active_));
  QToolButton::enterEvent(event);
}

void ImageButton::leaveEvent(QEvent* event) {
  setIcon(QIcon(normal_));
  QToolButton::leaveEvent(event);
}

TabControl::TabControl(QWidget* parent) : QWidget(parent), bar_(new QTabBar(this)) {
  bar_->setDrawBase(false);
  connect(bar_, &QTabBar::currentChanged, this, &TabControl::ShowPage);
}

QWidget* TabControl::AddPage(const QString& caption) {
  auto* page = new QWidget(this);
  page->setGeometry(0, 0, width(), height());
  pages_.push_back(page);
  bar_->addTab(caption);
  bar_->raise();
  ShowPage(bar_->currentIndex());
  return page;
}

void TabControl::ShowPage(int index) {
  for (int i = 0; i < static_cast<int>(pages_.size()); ++i) pages_[i]->setVisible(i == index);
  bar_->raise();
}

void TabControl::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  for (QWidget* page : pages_) page->setGeometry(0, 0, width(), height());
  bar_->setGeometry(2, 2, bar_->sizeHint().width(), bar_->sizeHint().height());
}

void TabControl::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionTabWidgetFrame option;
  option.initFrom(this);
  const int top = bar_->geometry().bottom() + 1;
  option.rect = QRect(0, top, width(), height() - top);
  option.tabBarSize = bar_->size();
  painter.drawPrimitive(QStyle::PE_FrameTabWidget, option);
}

namespace {

QPixmap Canvas(int w, int h) {
  QPixmap pm(w, h);
  pm.fill(Qt::transparent);
  return pm;
}

}  // namespace

QPixmap DrawSavePicture(bool active) {
  QPixmap pm = Canvas(64, 64);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QColor body = active ? QColor(40, 120, 220) : QColor(60, 100, 170);
  p.setBrush(body);
  p.setPen(QPen(body.darker(140), 2));
  p.drawRoundedRect(10, 8, 44, 48, 5, 5);                  // the disk
  p.setBrush(QColor(235, 240, 250));
  p.drawRect(18, 10, 28, 16);                              // its label
  p.setBrush(QColor(200, 205, 215));
  p.drawRect(20, 38, 24, 16);                              // its shutter
  p.fillRect(36, 41, 5, 10, body.darker(130));
  return pm;
}

QPixmap DrawHelpPicture(bool active) {
  QPixmap pm = Canvas(64, 64);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QColor ring = active ? QColor(240, 150, 30) : QColor(210, 120, 20);
  p.setBrush(ring);
  p.setPen(QPen(ring.darker(140), 2));
  p.drawEllipse(8, 8, 48, 48);
  p.setPen(Qt::white);
  QFont f;
  f.setPixelSize(34);
  f.setBold(true);
  p.setFont(f);
  p.drawText(QRect(8, 8, 48, 48), Qt::AlignCenter, QStringLiteral("?"));
  return pm;
}

QPixmap DrawLogoPicture(bool active) {
  QPixmap pm = Canvas(195, 66);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 195, 66);
  g.setColorAt(0, active ? QColor(70, 170, 90) : QColor(50, 140, 70));
  g.setColorAt(1, active ? QColor(40, 120, 200) : QColor(30, 90, 160));
  QPainterPath leaf;
  leaf.moveTo(12, 52);
  leaf.cubicTo(10, 20, 40, 8, 58, 10);
  leaf.cubicTo(56, 34, 36, 56, 12, 52);
  p.fillPath(leaf, g);
  p.setPen(QColor(255, 255, 255, 200));
  p.drawLine(16, 48, 50, 16);
  p.setPen(active ? QColor(30, 90, 160) : QColor(40, 60, 90));
  QFont f;
  f.setPixelSize(30);
  f.setBold(true);
  p.setFont(f);
  p.drawText(QRect(66, 4, 129, 40), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("青篱"));
  f.setPixelSize(13);
  f.setBold(false);
  p.setFont(f);
  p.drawText(QRect(66, 42, 129, 20), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("览数数据采集"));
  return pm;
}

}  // namespace lanshu
