// Runs a test under another process locale (LC_ALL and setlocale), restoring both at the end.
#pragma once

#include <clocale>
#include <cstdlib>
#include <optional>
#include <string>

namespace jov::testing {

class ScopedLocale {
 public:
  // Switches to name ("pt_BR.UTF-8"); ok() tells whether the C library has that locale.
  explicit ScopedLocale(const std::string& name) {
    if (const char* old = std::getenv("LC_ALL")) old_env_ = old;
    old_locale_ = std::setlocale(LC_ALL, nullptr);
    ::setenv("LC_ALL", name.c_str(), 1);
    ok_ = std::setlocale(LC_ALL, "") != nullptr;
  }
  ~ScopedLocale() {
    if (old_env_) {
      ::setenv("LC_ALL", old_env_->c_str(), 1);
    } else {
      ::unsetenv("LC_ALL");
    }
    std::setlocale(LC_ALL, old_locale_.c_str());
  }
  ScopedLocale(const ScopedLocale&) = delete;
  ScopedLocale& operator=(const ScopedLocale&) = delete;

  bool ok() const { return ok_; }

 private:
  std::optional<std::string> old_env_;
  std::string old_locale_;
  bool ok_ = false;
};

}  // namespace jov::testing
