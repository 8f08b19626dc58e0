// The window that shows which program file is being downloaded and how far it has come.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "clientlib/download_progress.h"

class QWidget;

namespace jov {

// A top-level window of its own in the screen's style, centred on the screen and named
// "Atualizando o sistema" (its window title), shown from a file's Begin to its End and gone
// after End or when this object is destroyed. It takes no input: input aimed at it is dropped,
// and the repaints it does in place deliver no operator input to any window (the platform's
// input waits in Qt's queue until the launcher's event loop runs again; input posted to a
// widget meanwhile is dropped). Needs a QApplication; every call on the UI thread, none blocks
// beyond one pass over the pending events.
class DownloadProgressWindow : public DownloadProgress {
 public:
  DownloadProgressWindow();
  ~DownloadProgressWindow() override;
  DownloadProgressWindow(const DownloadProgressWindow&) = delete;
  DownloadProgressWindow& operator=(const DownloadProgressWindow&) = delete;

  void Begin(const std::string& file_name, std::int64_t total) override;
  void Advance(std::int64_t received) override;
  void End() override;

  // The window while a download shows, null otherwise.
  QWidget* Window() const;

 private:
  struct Parts;
  void Refresh(std::int64_t received);
  std::unique_ptr<Parts> parts_;
};

// The progress line: "25% (500 de 2.000 bytes)" when total is known (received kept within
// 0..total, the percentage rounded down), "500 bytes" when total is -1 or not positive.
std::string DownloadProgressText(std::int64_t received, std::int64_t total);

}  // namespace jov
