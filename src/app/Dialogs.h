#pragma once
// The two secondary windows: the find dialog of the rank list and the text
// dialog that shows the introduction.
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <functional>

namespace lanshu {

class FindDialog : public QDialog {
  Q_OBJECT
 public:
  explicit FindDialog(QWidget* owner);
  ~FindDialog() override;

  QLabel* 标签1 = nullptr;
  QLineEdit* 编辑框字符 = nullptr;
  QLabel* 标签2 = nullptr;
  QComboBox* 组合框列 = nullptr;
  QCheckBox* 选择框忽视 = nullptr;
  QPushButton* 按钮查找 = nullptr;

  // Installed by the program: created (after the controls exist), being
  // destroyed, and the find button.
  std::function<void()> onCreated, onClosing, onFind;

  // Runs onCreated once; the owner calls it right after construction.
  void Created();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  bool closed_ = false;
};

class TextDialog : public QDialog {
  Q_OBJECT
 public:
  explicit TextDialog(QWidget* owner);

  QPlainTextEdit* 编辑框提示 = nullptr;
  QPlainTextEdit* 编辑框正文 = nullptr;
  QFrame* 外形框 = nullptr;
  QPushButton* 按钮恢复 = nullptr;
  QPushButton* 按钮清空 = nullptr;
  QPushButton* 按钮粘贴 = nullptr;
  QPushButton* 按钮文件 = nullptr;
  QPushButton* 按钮文件名 = nullptr;
  QPushButton* 按钮确定 = nullptr;
  QPushButton* 按钮取消 = nullptr;
  // The open dialog's design values (title and filter list).
  QString 导入文本文件对话框标题, 导入文本文件对话框过滤器;

  // Fills the dialog: prompt, title, text; read-only hides the input
  // controls and turns 取消 into the default "关闭(&G)" button.
  void Setup(const QString& prompt, const QString& title, const QString& text, bool readOnly);
  int margin = 5;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Relayout();
};

}  // namespace lanshu
