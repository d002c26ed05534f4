#pragma once
// A check box as the settings store sees it: keyed on its caption.
#include <QCheckBox>

#include "app/QtText.h"
#include "store/ConfigStore.h"

namespace lanshu {

class CheckBoxControl : public CheckableControl {
 public:
  explicit CheckBoxControl(QCheckBox* box) : box_(box) {}
  std::string Caption() const override { return ToGbk(box_->text()); }
  bool Checked() const override { return box_->isChecked(); }
  void SetChecked(bool checked) override { box_->setChecked(checked); }

 private:
  QCheckBox* box_;
};

}  // namespace lanshu
