// One start of the launcher: what it read once and what it learns as it goes.
#pragma once

#include <string>

#include "clientlib/client_ini.h"
#include "clientlib/http_transport.h"
#include "clientlib/register_identity.h"
#include "clientlib/server_stall.h"

namespace jov {

class Clock;
class HostPath;

// Built once per start by the package entry (a test builds its own) and handed to what talks
// to the server or reads the settings; it outlives them all. The settings and the host name
// do not change for the start; the identity and the stall are safe to use from any thread.
class Session {
 public:
  // Reads clientlib.ini of host's program folder and this machine's name, now (blocks on the
  // disk). Never throws: what the file gets wrong is in Settings().problems. host and clock
  // must outlive the session.
  Session(HostPath& host, Clock& clock);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  HostPath& Host() { return host_; }
  Clock& Time() { return clock_; }
  // The folder of the host's executable, without a trailing "/".
  const std::string& ProgramDirectory() const { return program_dir_; }
  // clientlib.ini as it was at the start.
  const ClientIni& Settings() const { return settings_; }
  // This machine's name as LocalHostName gave it at the start.
  const std::string& HostName() const { return host_name_; }
  RegisterIdentity& Identity() { return identity_; }
  // Whether the server stopped answering earlier in this start.
  ServerStall& Stall() { return stall_; }
  // A transport's options for this start: the proxy of the settings, the host name and the
  // identity (which the options point to).
  HttpTransport::Options TransportOptions() const;

 private:
  HostPath& host_;
  Clock& clock_;
  const std::string program_dir_;
  const ClientIni settings_;
  const std::string host_name_;
  RegisterIdentity identity_;
  ServerStall stall_;
};

}  // namespace jov
