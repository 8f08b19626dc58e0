// Dialogs as modal Qt message boxes in the screen's style.
#pragma once

#include "platform/dialogs.h"

namespace jov {

class DialogsQt : public Dialogs {
 public:
  bool Confirm(const std::string& text) override;
  void Notify(const std::string& text, int kind) override;
  void ShowMessage(const std::string& text) override;
  void ShowException(const std::string& text) override;
};

}  // namespace jov
