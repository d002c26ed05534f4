#include "app/ResultTextBox.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <utility>

#include "app/QtText.h"

namespace lanshu {
namespace {

constexpr int kMargin = 4;  // around the text, as a text edit's document has it

bool IsWordCharacter(QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_'); }

}  // namespace

ResultTextBox::ResultTextBox(QWidget* parent) : QAbstractScrollArea(parent) {
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setCursor(Qt::IBeamCursor);
  UpdateScrollRanges();
}

int ResultTextBox::LineHeight() const { return std::max(1, fontMetrics().lineSpacing()); }

int ResultTextBox::VisibleLines() const {
  return std::max(1, (viewport()->height() - kMargin) / LineHeight());
}

int ResultTextBox::FirstVisibleLine() const { return verticalScrollBar()->value(); }

QString ResultTextBox::DisplayLine(int line) const {
  QString text = GbkToControlText(lines_.Line(line));
  // One cell per character keeps columns and pixels in step; a control
  // character would draw as a box.
  for (QChar& c : text)
    if (c.unicode() < 0x20) c = QLatin1Char(' ');
  return text;
}

void ResultTextBox::UpdateScrollRanges() {
  const int pageLines = VisibleLines();
  QScrollBar* v = verticalScrollBar();
  v->setPageStep(pageLines);
  v->setSingleStep(1);
  v->setRange(0, std::max(0, lines_.LineCount() - pageLines));
  QScrollBar* h = horizontalScrollBar();
  const int width = viewport()->width();
  h->setPageStep(width);
  h->setSingleStep(std::max(1, fontMetrics().averageCharWidth() * 2));
  h->setRange(0, std::max(0, contentWidth_ + 2 * kMargin - width));
}

void ResultTextBox::MeasureLongestLine() {
  const int longest = lines_.LongestLine();
  if (lines_.LineBytes(longest) <= measuredBytes_) return;
  measuredBytes_ = lines_.LineBytes(longest);
  contentWidth_ = std::max(contentWidth_, fontMetrics().horizontalAdvance(DisplayLine(longest)));
}

void ResultTextBox::AppendGbk(const std::string& text) {
  const int touched = lines_.LineCount() - 1;
  lines_.Append(text);
  laidOut_.erase(touched);  // it may have grown
  MeasureLongestLine();
  UpdateScrollRanges();
  const int first = FirstVisibleLine();
  if (touched >= first && touched <= first + VisibleLines()) viewport()->update();  // Qt merges the repaints
  emit textChanged();
}

void ResultTextBox::ScrollToEnd() { verticalScrollBar()->setValue(verticalScrollBar()->maximum()); }

void ResultTextBox::Remeasure() {
  laidOut_.clear();
  contentWidth_ = 0;
  measuredBytes_ = 0;
  MeasureLongestLine();
  UpdateScrollRanges();
}

void ResultTextBox::Reset() {
  anchor_ = cursor_ = TextPosition();
  selecting_ = false;
  Remeasure();
  verticalScrollBar()->setValue(0);
  horizontalScrollBar()->setValue(0);
  viewport()->update();
}

QString ResultTextBox::toPlainText() const { return GbkToControlText(lines_.Text()); }

void ResultTextBox::setPlainText(const QString& text) {
  lines_.SetTextWide(text.toStdU16String());
  Reset();
  emit textChanged();
}

void ResultTextBox::clear() {
  lines_.Clear();
  Reset();
  emit textChanged();
}

QString ResultTextBox::SelectedText() const { return GbkToControlText(lines_.TextBetween(anchor_, cursor_)); }

void ResultTextBox::SetSelection(TextPosition anchor, TextPosition cursor) {
  anchor_ = anchor;
  cursor_ = cursor;
  viewport()->update();
}

void ResultTextBox::selectAll() { SetSelection(TextPosition(), lines_.End()); }

void ResultTextBox::copy() const {
  if (HasSelection()) QApplication::clipboard()->setText(SelectedText());
}

QMenu* ResultTextBox::createStandardContextMenu(const QPoint&) {
  auto* menu = new QMenu(this);
  QAction* copyAction = menu->addAction(QStringLiteral("复制"), this, [this] { copy(); });
  copyAction->setShortcut(QKeySequence::Copy);
  copyAction->setEnabled(HasSelection());
  menu->addSeparator();
  QAction* all = menu->addAction(QStringLiteral("全选"), this, [this] { selectAll(); });
  all->setShortcut(QKeySequence::SelectAll);
  all->setEnabled(!lines_.Empty());
  return menu;
}

const QTextLayout& ResultTextBox::Layout(int line) const {
  std::unique_ptr<QTextLayout>& layout = laidOut_[line];
  if (layout) return *layout;
  layout = std::make_unique<QTextLayout>(DisplayLine(line), font());
  layout->setCacheEnabled(true);
  QTextOption option;
  option.setWrapMode(QTextOption::NoWrap);
  layout->setTextOption(option);
  layout->beginLayout();
  QTextLine text = layout->createLine();
  text.setLineWidth(0);  // no wrapping: the line takes its whole text anyway
  layout->endLayout();
  contentWidth_ = std::max(contentWidth_, static_cast<int>(std::ceil(text.naturalTextWidth())));
  return *layout;
}

TextPosition ResultTextBox::PositionAt(const QPoint& point) const {
  const int h = LineHeight();
  const int y = point.y() - kMargin;
  const int line = FirstVisibleLine() + (y >= 0 ? y / h : -((h - 1 - y) / h));
  if (line < 0) return TextPosition();
  if (line >= lines_.LineCount()) return lines_.End();
  const qreal x = point.x() - kMargin + horizontalScrollBar()->value();
  return {line, Layout(line).lineAt(0).xToCursor(x, QTextLine::CursorBetweenCharacters)};
}

void ResultTextBox::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const int h = LineHeight();
  const int ascent = fontMetrics().ascent();
  const int left = kMargin - horizontalScrollBar()->value();
  const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
  painter.setPen(palette().color(group, QPalette::Text));
  QTextLayout::FormatRange selected;
  selected.format.setBackground(palette().brush(group, QPalette::Highlight));
  selected.format.setForeground(palette().brush(group, QPalette::HighlightedText));
  TextPosition from = anchor_, to = cursor_;
  if (to < from) std::swap(from, to);
  const int widest = contentWidth_;
  const int first = FirstVisibleLine();
  int line = first;
  for (int y = kMargin; line < lines_.LineCount() && y < viewport()->height(); ++line, y += h) {
    const QTextLayout& layout = Layout(line);
    const QTextLine text = layout.lineAt(0);
    // Every line on the same baseline, whatever fonts its characters took.
    const QPointF at(left, y + ascent - text.ascent());
    QList<QTextLayout::FormatRange> selections;
    if (HasSelection() && line >= from.line && line <= to.line) {
      const int length = static_cast<int>(layout.text().size());
      selected.start = line == from.line ? std::clamp(from.column, 0, length) : 0;
      selected.length = (line == to.line ? std::clamp(to.column, selected.start, length) : length) - selected.start;
      selections.append(selected);
      if (line < to.line) {  // the selected line end, a space wide, so selected empty lines show
        const qreal x = left + text.cursorToX(length);
        const int space = fontMetrics().horizontalAdvance(QLatin1Char(' '));
        painter.fillRect(QRectF(x, y, space, h), selected.format.background());
      }
    }
    layout.draw(&painter, at, selections);
  }
  // Layouts out of sight are dropped.
  for (auto it = laidOut_.begin(); it != laidOut_.end();)
    it = it->first < first || it->first >= line ? laidOut_.erase(it) : std::next(it);
  if (contentWidth_ > widest) {
    // A line wider than its bytes suggested: the range grows after this paint.
    QTimer::singleShot(0, this, [this] { UpdateScrollRanges(); });
  }
}

void ResultTextBox::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  // A box showing the end keeps showing it, also when the horizontal bar
  // comes and takes a line's height.
  QScrollBar* v = verticalScrollBar();
  const bool atEnd = v->maximum() > 0 && v->value() == v->maximum();
  UpdateScrollRanges();
  if (atEnd) ScrollToEnd();
}

void ResultTextBox::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) Remeasure();
}

void ResultTextBox::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;  // a right click keeps the selection for the menu
  const TextPosition at = PositionAt(event->position().toPoint());
  if (!(event->modifiers() & Qt::ShiftModifier)) anchor_ = at;
  cursor_ = at;
  selecting_ = true;
  viewport()->update();
}

void ResultTextBox::mouseMoveEvent(QMouseEvent* event) {
  if (!selecting_ || !(event->buttons() & Qt::LeftButton)) return;
  const QPoint at = event->position().toPoint();
  // Dragging past an edge scrolls that way.
  if (at.y() < 0) verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
  else if (at.y() > viewport()->height()) verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  if (at.x() < 0) horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
  else if (at.x() > viewport()->width()) horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  cursor_ = PositionAt(at);
  viewport()->update();
}

void ResultTextBox::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !selecting_) return;
  selecting_ = false;
  QClipboard* clipboard = QApplication::clipboard();
  if (HasSelection() && clipboard->supportsSelection()) clipboard->setText(SelectedText(), QClipboard::Selection);
}

void ResultTextBox::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  // The word under the pointer, or the one character when it is no word.
  const TextPosition at = PositionAt(event->position().toPoint());
  const QString text = DisplayLine(at.line);
  const int length = static_cast<int>(text.size());
  int start = std::min(at.column, length), end = start;
  if (end < length && IsWordCharacter(text[end])) {
    while (end < length && IsWordCharacter(text[end])) ++end;
    while (start > 0 && IsWordCharacter(text[start - 1])) --start;
  } else if (end < length) {
    ++end;
  }
  selecting_ = false;
  SetSelection({at.line, start}, {at.line, end});
}

void ResultTextBox::keyPressEvent(QKeyEvent* event) {
  if (event == QKeySequence::Copy) {
    copy();
    return;
  }
  if (event == QKeySequence::SelectAll) {
    selectAll();
    return;
  }
  QScrollBar* v = verticalScrollBar();
  QScrollBar* h = horizontalScrollBar();
  const bool ctrl = event->modifiers() & Qt::ControlModifier;
  switch (event->key()) {
    case Qt::Key_PageUp: v->triggerAction(QAbstractSlider::SliderPageStepSub); break;
    case Qt::Key_PageDown: v->triggerAction(QAbstractSlider::SliderPageStepAdd); break;
    case Qt::Key_Up: v->triggerAction(QAbstractSlider::SliderSingleStepSub); break;
    case Qt::Key_Down: v->triggerAction(QAbstractSlider::SliderSingleStepAdd); break;
    case Qt::Key_Left: h->triggerAction(QAbstractSlider::SliderSingleStepSub); break;
    case Qt::Key_Right: h->triggerAction(QAbstractSlider::SliderSingleStepAdd); break;
    // There is no caret: Home and End go to the lines' start and end, with
    // Ctrl to the first and the last line.
    case Qt::Key_Home: (ctrl ? v : h)->triggerAction(QAbstractSlider::SliderToMinimum); break;
    case Qt::Key_End: (ctrl ? v : h)->triggerAction(QAbstractSlider::SliderToMaximum); break;
    default: QAbstractScrollArea::keyPressEvent(event); return;
  }
  event->accept();
}

void ResultTextBox::contextMenuEvent(QContextMenuEvent* event) {
  QMenu* menu = createStandardContextMenu(event->pos());
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(event->globalPos());
}

}  // namespace lanshu
