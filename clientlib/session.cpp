#include "clientlib/session.h"

#include <QCoreApplication>
#include <QThread>

#include "platform/host_path.h"

namespace jov {

Session::Session(HostPath& host, Clock& clock)
    : host_(host),
      clock_(clock),
      program_dir_(DirectoryOf(host.ExecutablePath())),
      settings_(ReadClientIni(program_dir_ + "/clientlib.ini", program_dir_)),
      host_name_(LocalHostName()),
      identity_(program_dir_) {}

HttpTransport::Options Session::TransportOptions() const {
  HttpTransport::Options options;
  options.proxy = settings_.proxy;
  options.host_name = host_name_;
  options.identity = &identity_;
  // While calls are in flight together on the UI thread the screen keeps painting; what the
  // user types waits for the answers.
  options.turn = [] {
    if (QCoreApplication::instance() != nullptr &&
        QThread::currentThread() == QCoreApplication::instance()->thread()) {
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
  };
  return options;
}

}  // namespace jov
