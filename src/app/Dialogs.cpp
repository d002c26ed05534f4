#include "app/Dialogs.h"

#include <QCloseEvent>
#include <QResizeEvent>

#include "app/Widgets.h"

namespace lanshu {

FindDialog::FindDialog(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("查找表项"));
  setWindowTitle(QStringLiteral("查找表项"));
  setModal(false);
  setGeometry(50, 50, 599, 115);
  标签1 = Named(new QLabel(QStringLiteral("要查找的字符："), this), "标签1", 16, 16, 88, 24);
  编辑框字符 = Named(new QLineEdit(this), "编辑框字符", 112, 16, 264, 24);
  标签2 = Named(new QLabel(QStringLiteral("要查找的列："), this), "标签2", 16, 48, 88, 24);
  组合框列 = Named(new QComboBox(this), "组合框列", 112, 48, 136, 24);
  选择框忽视 = Named(new QCheckBox(QStringLiteral("忽视大小写"), this), "选择框忽视", 264, 48, 112, 24);
  按钮查找 = Named(new QPushButton(QStringLiteral("开始查找"), this), "按钮查找", 384, 16, 192, 56);
  connect(按钮查找, &QPushButton::clicked, this, [this] {
    if (onFind) onFind();
  });
}

FindDialog::~FindDialog() {
  if (!closed_ && onClosing) onClosing();
}

void FindDialog::Created() {
  if (onCreated) onCreated();
}

void FindDialog::closeEvent(QCloseEvent* event) {
  if (!closed_ && onClosing) onClosing();
  closed_ = true;
  QDialog::closeEvent(event);
}

TextDialog::TextDialog(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("文本对话框"));
  setModal(true);
  setGeometry(50, 50, 495, 393);
  编辑框提示 = Named(new QPlainTextEdit(this), "编辑框提示", 13, 8, 395, 33);
  编辑框提示->setReadOnly(true);
  编辑框提示->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  编辑框正文 = Named(new QPlainTextEdit(this), "编辑框正文", 5, 56, 411, 168);
  编辑框正文->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  外形框 = Named(new QFrame(this), "外形框", 8, 320, 336, 34);
  按钮恢复 = Named(new QPushButton(QStringLiteral("恢复"), 外形框), "按钮恢复", 0, 5, 51, 24);
  按钮清空 = Named(new QPushButton(QStringLiteral("清空"), 外形框), "按钮清空", 54, 5, 51, 24);
  按钮粘贴 = Named(new QPushButton(QStringLiteral("粘贴"), 外形框), "按钮粘贴", 107, 5, 85, 24);
  按钮文件 = Named(new QPushButton(QStringLiteral("内容"), 外形框), "按钮文件", 208, 5, 51, 24);
  按钮文件名 = Named(new QPushButton(QStringLiteral("文件名"), 外形框), "按钮文件名", 259, 5, 69, 24);
  按钮确定 = Named(new QPushButton(QStringLiteral("确定"), this), "按钮确定", 351, 328, 64, 24);
  按钮确定->setDefault(true);
  按钮取消 = Named(new QPushButton(QStringLiteral("取消"), this), "按钮取消", 414, 328, 64, 24);
  导入文本文件对话框标题 = QStringLiteral("选择一个文本文件，导入其文本数据");
  导入文本文件对话框过滤器 = QStringLiteral("Txt文本|*.txt;*.text|\r\nIni配置|*.ini;*.inf|\r\n全部文件|*.*");
  connect(按钮取消, &QPushButton::clicked, this, &QDialog::reject);
  connect(按钮确定, &QPushButton::clicked, this, &QDialog::accept);
}

void TextDialog::Setup(const QString& prompt, const QString& title, const QString& text, bool readOnly) {
  编辑框提示->setPlainText(prompt);
  setWindowTitle(title);
  编辑框正文->setPlainText(text);
  if (readOnly) {
    按钮确定->hide();
    外形框->hide();
    编辑框正文->setReadOnly(true);
    按钮取消->setText(QStringLiteral("关闭(&G)"));
    按钮确定->setDefault(false);
    按钮取消->setDefault(true);
  }
  Relayout();
}

void TextDialog::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  Relayout();
}

void TextDialog::Relayout() {
  const int m = margin;
  const int W = width();
  const int H = height();
  // The prompt box is as tall as its text needs (at least one line).
  const int lines = 编辑框提示->toPlainText().isEmpty() ? 1 : 编辑框提示->document()->lineCount();
  const int promptHeight = 编辑框提示->fontMetrics().lineSpacing() * lines + 10;
  编辑框提示->setGeometry(m, m, W - 2 * m, promptHeight);
  const int textTop = 编辑框提示->geometry().bottom() + 1 + m;
  编辑框正文->setGeometry(m, textTop, 编辑框提示->width(), H - textTop - 外形框->height());
  外形框->move(m, 编辑框正文->geometry().bottom() + 1);
  const int centre = 外形框->y() + 外形框->height() / 2;
  按钮取消->move(W - m - 按钮取消->width(), centre - 按钮取消->height() / 2);
  按钮确定->move(按钮取消->x() - 按钮确定->width(), centre - 按钮确定->height() / 2);
}

}  // namespace lanshu
