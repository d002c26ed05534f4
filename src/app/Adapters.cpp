#include "app/Adapters.h"

namespace lanshu {

void MiningWindowUi::AppendResult(const std::string& text) {
  ResultTextBox* box = w_.编辑框结果关键词;
  box->AppendGbk(text);
  box->ScrollToEnd();
}

}  // namespace lanshu
