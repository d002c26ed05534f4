#pragma once
// The keyword-mining result box: a read-only view over a LineStore. Only the
// lines in sight are converted from GBK and painted, all lines are one height,
// so a run's 100,000 lines cost about their bytes and an arriving line costs
// its own length. The text edit calls the program uses (toPlainText,
// setPlainText, clear, textChanged, createStandardContextMenu) keep their
// meaning; export and copy take the GBK text straight from the store.
#include <QAbstractScrollArea>
#include <QString>
#include <QTextLayout>
#include <memory>
#include <string>
#include <unordered_map>

#include "results/LineStore.h"

class QMenu;

namespace lanshu {

class ResultTextBox : public QAbstractScrollArea {
  Q_OBJECT
 public:
  explicit ResultTextBox(QWidget* parent = nullptr);

  // Adds GBK text at the end (any number of lines, or part of one).
  void AppendGbk(const std::string& text);
  void ScrollToEnd();
  // The text as export and copy write it: GBK, "\r\n" line ends.
  const std::string& GbkText() const { return lines_.Text(); }
  const LineStore& Lines() const { return lines_; }

  // As a text edit gives and takes its text: "\n" line ends.
  QString toPlainText() const;
  void setPlainText(const QString& text);
  void clear();

  bool HasSelection() const { return anchor_ != cursor_; }
  // The selected text as a text edit copies it, with "\n" line ends.
  QString SelectedText() const;
  // anchor stays put while a shift-click or a drag moves cursor.
  void SetSelection(TextPosition anchor, TextPosition cursor);
  void selectAll();
  void copy() const;
  // The place under a point of the viewport (lines above or below the text
  // count as its first or last line).
  TextPosition PositionAt(const QPoint& point) const;
  int FirstVisibleLine() const;
  int LineHeight() const;

  // 复制 and 全选, for the caller to add to and show; at is in viewport
  // coordinates, as customContextMenuRequested gives it.
  QMenu* createStandardContextMenu(const QPoint& at);

 signals:
  void textChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  int VisibleLines() const;
  QString DisplayLine(int line) const;
  // The line laid out in the box's font, kept while it is in sight.
  const QTextLayout& Layout(int line) const;
  // The scroll ranges for the line count and the widest line known.
  void UpdateScrollRanges();
  // Measures the line with the most bytes when it has grown.
  void MeasureLongestLine();
  // Forgets every width and layout and measures again (new text or font).
  void Remeasure();
  void Reset();

  LineStore lines_;
  TextPosition anchor_, cursor_;
  bool selecting_ = false;
  // The lines in sight, shaped once: a line arriving at the end moves the
  // others up, and they need not be shaped again.
  mutable std::unordered_map<int, std::unique_ptr<QTextLayout>> laidOut_;
  mutable int contentWidth_ = 0;   // pixels of the widest line measured or laid out
  std::size_t measuredBytes_ = 0;  // bytes of the longest line when it was measured
};

}  // namespace lanshu
