# Build time on small machines: a faster linker, and precompiled headers for the targets whose
# sources spend most of their compile time in Qt's headers. Included before any target is
# defined; jov_precompiled_headers() is called after every target is; the tests' own
# precompiled header is set where they are defined (tests/).

# lld when installed and the compiler takes it; binutils' ld otherwise. Not mold (Debian 12's
# 1.10): it took the launcher's test fixture out of the test support library into test programs
# that do not link the launcher, and failed on its undefined symbols, where ld and lld leave
# that member out.
if(JOV_FAST_LINKER)
  include(CheckLinkerFlag)
  check_linker_flag(CXX -fuse-ld=lld JOV_HAVE_LLD)
  if(JOV_HAVE_LLD)
    add_link_options(-fuse-ld=lld)
  endif()
endif()

# JOV_FAST_BUILD=OFF compiles every source on its own, as a check that each includes what it uses.
function(jov_precompiled_headers)
  if(NOT JOV_FAST_BUILD)
    return()
  endif()
  # The Qt headers the client library and the launcher's form include most.
  set(qt_pch <string> <vector> <memory> <functional> <QtCore/QString> <QtCore/QObject>
    <QtGui/QPixmap> <QtWidgets/QWidget> <QtWidgets/QLabel> <QtWidgets/QApplication>)
  target_precompile_headers(_DLL PRIVATE ${qt_pch})
  target_precompile_headers(jov_launcher PRIVATE ${qt_pch})
endfunction()
