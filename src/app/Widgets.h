#pragma once
// Small control kinds of the window that Qt has no exact counterpart for.
#include <QLabel>
#include <QPixmap>
#include <QTabBar>
#include <QToolButton>
#include <QWidget>
#include <vector>

namespace lanshu {

// A text that acts as a link: pressed with the left mouse button.
class LinkLabel : public QLabel {
  Q_OBJECT
 public:
  explicit LinkLabel(const QString& text, QWidget* parent);
 signals:
  void pressed();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
};

// A picture that acts as a button: the first picture in the normal state, the
// second while the mouse is over it or it is pressed.
class ImageButton : public QToolButton {
  Q_OBJECT
 public:
  ImageButton(const QPixmap& normal, const QPixmap& active, QWidget* parent);

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  QPixmap normal_, active_;
};

// The tab control: a tab bar across the top and one page per tab. Pages cover
// the whole control, so the places of their controls are relative to the tab
// control itself, tab strip included.
class TabControl : public QWidget {
  Q_OBJECT
 public:
  explicit TabControl(QWidget* parent);
  QWidget* AddPage(const QString& caption);
  int CurrentIndex() const { return bar_->currentIndex(); }
  int Count() const { return static_cast<int>(pages_.size()); }
  QWidget* Page(int index) const { return pages_.at(index); }
  void SetCurrentIndex(int index) { bar_->setCurrentIndex(index); }
  QTabBar* Bar() const { return bar_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void ShowPage(int index);
  QTabBar* bar_;
  std::vector<QWidget*> pages_;
};

// Gives a control its name (objectName) and its design place and size.
template <typename T>
T* Named(T* widget, const char* name, int x, int y, int w, int h) {
  widget->setObjectName(QString::fromUtf8(name));
  widget->setGeometry(x, y, w, h);
  return widget;
}

// Pictures drawn by the program for the image buttons and the logo.
QPixmap DrawSavePicture(bool active);
QPixmap DrawHelpPicture(bool active);
QPixmap DrawLogoPicture(bool active);

}  // namespace lanshu
