// The modal dialogs the launcher shows; tests script the answers through this interface.
#pragma once

#include <string>

namespace jov {

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // The confirmation dialog with Yes and No; true for Yes.
  virtual bool Confirm(const std::string& text) = 0;
  // A notice or refusal (kind as the client library's message kinds) acknowledged with OK.
  virtual void Notify(const std::string& text, int kind) = 0;
  // The plain message box.
  virtual void ShowMessage(const std::string& text) = 0;
  // The default error display for an exception that left an event handler.
  virtual void ShowException(const std::string& text) = 0;
};

}  // namespace jov
