#pragma once
// Message boxes go through one hook so that tests and batch runs never block.
// The window installs a hook that shows an application-modal QMessageBox with
// the given icon, title and text; without a hook the message goes to standard
// error (its GBK bytes as they are) and the OK button counts as pressed.
#include <functional>
#include <string>

namespace lanshu {

// Flag bits, as the message-box flags of the system's routines use them.
enum MessageBoxFlags : int {
  kMbOk = 0x0,
  kMbYesNo = 0x4,  // a question: 是 or 否
  kMbButtonMask = 0xF,
  kMbIconStop = 0x10,
  kMbIconQuestion = 0x20,
  kMbIconWarning = 0x30,
  kMbIconInformation = 0x40,
  kMbIconMask = 0xF0,
  kMbSystemModal = 0x1000,
  kMbTaskModal = 0x2000,
};
constexpr int kIdOk = 1;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// text and title are GBK; returns the button pressed (kIdOk for an OK box).
using MessageBoxHook = std::function<int(const std::string& text, int flags, const std::string& title)>;

void SetMessageBoxHook(MessageBoxHook hook);
// While muted (the window is closing and nobody is there to answer), every
// message counts as answered with OK and is not shown.
void SetMessagesMuted(bool muted);
bool MessagesMuted();
int ShowMessageBox(const std::string& text, int flags, const std::string& title);

}  // namespace lanshu
