#include "app/Adapters.h"

#include <QScrollBar>
#include <QTextCursor>

namespace lanshu {

void MiningWindowUi::AppendResult(const std::string& text) {
  // Insert at the end without a paragraph break of its own: the line carries
  // its "\r\n", which the box holds as "\n".
  QPlainTextEdit* box = w_.编辑框结果关键词;
  QTextCursor cursor(box->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(GbkToControlText(text));
  box->verticalScrollBar()->setValue(box->verticalScrollBar()->maximum());
}

}  // namespace lanshu
