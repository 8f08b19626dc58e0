# Build time on small machines: precompiled headers and unity builds for the targets whose
# sources spend most of their compile time in Qt's headers. Included after every target is
# defined; the tests' own precompiled header is set where they are defined (tests/).
# JOV_FAST_BUILD=OFF compiles every source on its own, as a check that each includes what it uses.
if(NOT JOV_FAST_BUILD)
  return()
endif()

# The Qt headers the client library and the launcher's form include most.
set(JOV_QT_PCH <string> <vector> <memory> <functional> <QtCore/QString> <QtCore/QObject>
  <QtGui/QPixmap> <QtWidgets/QWidget> <QtWidgets/QLabel> <QtWidgets/QApplication>)
target_precompile_headers(_DLL PRIVATE ${JOV_QT_PCH})
target_precompile_headers(jov_launcher PRIVATE ${JOV_QT_PCH})
