// A start's session for tests: the real session over a fake host path and clock.
#pragma once

#include <string>

#include "clientlib/session.h"
#include "tests/fakes/call_log.h"
#include "tests/fakes/fake_platform.h"

namespace jov::testing {

// Reads program_dir's clientlib.ini (none: the defaults) and this machine's name when built,
// as a start does; program_dir's Mercato.cds or cdsFilialCaixa.cds name the register.
struct FakeSession {
  explicit FakeSession(const std::string& program_dir = "/nonexistent/caixa")
      : host(HostAt(program_dir)), session(host, clock) {}

  static FakeHostPath HostAt(const std::string& program_dir) {
    FakeHostPath at;
    at.path = program_dir + "/JOV.EXE";
    return at;
  }

  FakeHostPath host;
  CallLog log;
  FakeClock clock{log};
  Session session;
};

}  // namespace jov::testing
