#include "clientlib/download_progress_window.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <limits>

#include "clientlib/dialogs_qt.h"
#include "platform/cp1252.h"

namespace jov {
namespace {

const QString kTitle = QStringLiteral("Atualizando o sistema");

constexpr const char* kStyle =
    "QWidget#DownloadProgress { background: white; border: 2px solid #22DD64; }"
    "QLabel { color: #808080; font: 15px 'Arial'; }"
    "QLabel#Title { color: black; font: bold 16px 'Arial'; }";

// Whole percent of got (0..total) of a positive total, rounded down; 100 only when complete.
// Beyond sizes where got * 100 could overflow it is approximate.
std::int64_t Percent(std::int64_t got, std::int64_t total) {
  constexpr std::int64_t kLimit = std::numeric_limits<std::int64_t>::max() / 100;
  if (got == total) return 100;
  return std::min<std::int64_t>(total <= kLimit ? got * 100 / total : got / (total / 100), 99);
}

bool IsUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
      return true;
    default:
      return false;
  }
}

// The window itself: input aimed at it goes nowhere.
class ProgressWidget : public QWidget {
 public:
  ProgressWidget()
      : QWidget(nullptr, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                             Qt::WindowDoesNotAcceptFocus) {}

 protected:
  bool event(QEvent* event) override {
    if (IsUserInput(event->type())) return true;
    return QWidget::event(event);
  }
};

// While it lives, input events sent or posted to any object are dropped.
class InputBlock : public QObject {
 public:
  InputBlock() { QCoreApplication::instance()->installEventFilter(this); }
  ~InputBlock() override { QCoreApplication::instance()->removeEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override { return IsUserInput(event->type()); }
};

}  // namespace

struct DownloadProgressWindow::Parts {
  std::unique_ptr<ProgressWidget> window;
  QLabel* file = nullptr;
  QLabel* progress = nullptr;
  std::int64_t total = -1;
  std::int64_t shown_step = -1;  // the step last drawn; -1 forces the next drawing
};

namespace {

// How far a download is, coarsely: the percent when the size is known, else the 256 KiB
// blocks received. The window is drawn again only when this changes, so that a download in
// small reads is not slowed down by drawing.
std::int64_t Step(std::int64_t received, std::int64_t total) {
  const std::int64_t got = std::max<std::int64_t>(received, 0);
  if (total <= 0) return got / (256 << 10);
  return Percent(std::min(got, total), total);
}

}  // namespace

DownloadProgressWindow::DownloadProgressWindow() : parts_(std::make_unique<Parts>()) {}

DownloadProgressWindow::~DownloadProgressWindow() = default;

QWidget* DownloadProgressWindow::Window() const { return parts_->window.get(); }

void DownloadProgressWindow::Begin(const std::string& file_name, std::int64_t total) {
  Parts& p = *parts_;
  p.total = total;
  if (!p.window) {
    p.window = std::make_unique<ProgressWidget>();
    p.window->setObjectName(QStringLiteral("DownloadProgress"));
    p.window->setWindowTitle(kTitle);
    p.window->setAttribute(Qt::WA_ShowWithoutActivating);
    p.window->setAttribute(Qt::WA_StyledBackground);
    p.window->setFocusPolicy(Qt::NoFocus);
    p.window->setStyleSheet(QString::fromLatin1(kStyle));
    p.window->setFixedSize(420, 130);
    auto* layout = new QVBoxLayout(p.window.get());
    layout->setContentsMargins(24, 16, 24, 16);
    auto* title = new QLabel(kTitle, p.window.get());
    title->setObjectName(QStringLiteral("Title"));
    p.file = new QLabel(p.window.get());
    p.file->setObjectName(QStringLiteral("File"));
    p.progress = new QLabel(p.window.get());
    p.progress->setObjectName(QStringLiteral("Progress"));
    for (QLabel* label : {title, p.file, p.progress}) {
      // The file's name is the server's choice: never markup, whatever it holds.
      label->setTextFormat(Qt::PlainText);
      label->setAlignment(Qt::AlignCenter);
      layout->addWidget(label);
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      QRect place = p.window->geometry();
      place.moveCenter(screen->availableGeometry().center());
      p.window->move(place.topLeft());
    }
    // Stands above the launcher's screen, so that a compositor that places windows itself
    // centres it there too.
    if (QWidget* above = WindowToStandAbove(); above != nullptr && above->windowHandle()) {
      p.window->winId();
      p.window->windowHandle()->setTransientParent(above->windowHandle());
    }
    p.window->show();
  }
  p.file->setText(QStringLiteral("Recebendo ") + cp1252::ToQString(file_name));
  p.shown_step = -1;
  Refresh(0);
}

void DownloadProgressWindow::Advance(std::int64_t received) {
  if (parts_->window) Refresh(received);
}

void DownloadProgressWindow::End() { parts_->window.reset(); }

// Draws the new text at once and lets the window system show it, without running the
// operator's input: the launcher is inside a download and must not start anything else.
void DownloadProgressWindow::Refresh(std::int64_t received) {
  Parts& p = *parts_;
  p.progress->setText(cp1252::ToQString(DownloadProgressText(received, p.total)));
  const std::int64_t step = Step(received, p.total);
  if (step == p.shown_step) return;
  p.shown_step = step;
  p.window->repaint();
  const InputBlock block;
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

std::string DownloadProgressText(std::int64_t received, std::int64_t total) {
  const QLocale brazil(QLocale::Portuguese, QLocale::Brazil);
  const auto number = [&](std::int64_t value) {
    return cp1252::FromQString(brazil.toString(static_cast<qlonglong>(value)));
  };
  if (total <= 0) return number(std::max<std::int64_t>(received, 0)) + " bytes";
  const std::int64_t got = std::clamp<std::int64_t>(received, 0, total);
  return std::to_string(Percent(got, total)) + "% (" + number(got) + " de " + number(total) +
         " bytes)";
}

}  // namespace jov
