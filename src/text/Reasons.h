#pragma once
// Why something failed, as the program itself says it: in English for
// standard error, reports and the history (scripts read those), and in
// Chinese for the window. One table holds both texts of every reason the
// program produces (history store, network, files), so the window never
// shows an English reason of the program's own.
#include <string>

namespace lanshu {

// The Chinese text of a reason the program produced (UTF-8 in and out).
// Names and numbers carried in it stay as they are. A reason followed by
// ": " and a text from elsewhere (a database driver's, the system's) becomes
// the Chinese reason, then "，原因：" and that text unchanged. A reason the
// table does not know is given whole after "原因：".
std::string ChineseReason(const std::string& english);

// The English and Chinese texts of the common system error numbers of file
// and folder operations ("no space left on device", "磁盘已满"); "error N" and
// "错误代码 N" for the others. UTF-8.
std::string FileErrorEnglish(int error);
std::string FileErrorChinese(int error);

}  // namespace lanshu
