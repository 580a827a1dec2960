# Every external package the project builds against, found once here so that components only
# name the imported targets.

find_package(Java 17 REQUIRED COMPONENTS Development Runtime)
# The JDK that compiles the peers also provides jni.h and libjvm (for the C++ tests).
get_filename_component(_javac_real "${Java_JAVAC_EXECUTABLE}" REALPATH)
get_filename_component(_jdk_home "${_javac_real}" DIRECTORY)
get_filename_component(_jdk_home "${_jdk_home}" DIRECTORY)
set(JAVA_HOME "${_jdk_home}" CACHE PATH "JDK used for JNI headers and libjvm")
find_package(JNI REQUIRED COMPONENTS JVM)
include(UseJava)

find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
find_package(EXPAT REQUIRED)

pkg_check_modules(GLIB REQUIRED IMPORTED_TARGET glib-2.0)
pkg_check_modules(GOBJECT REQUIRED IMPORTED_TARGET gobject-2.0)
pkg_check_modules(GIO REQUIRED IMPORTED_TARGET gio-2.0 gio-unix-2.0)
pkg_check_modules(GST REQUIRED IMPORTED_TARGET gstreamer-1.0)
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)
pkg_check_modules(TAGLIB REQUIRED IMPORTED_TARGET taglib)

if(BUILD_TESTING)
  find_package(GTest REQUIRED)
  include(GoogleTest)
  set(JUNIT_CONSOLE_JAR "/usr/share/java/junit-platform-console-standalone.jar" CACHE FILEPATH
      "JUnit 5 console launcher (Debian package junit5)")
  # Drives the players through the desktop's media-control interface (Debian package playerctl);
  # dbus-run-session gives a Java test a private session bus (Debian package dbus-daemon).
  find_program(PLAYERCTL_EXECUTABLE playerctl REQUIRED)
  find_program(DBUS_RUN_SESSION_EXECUTABLE dbus-run-session REQUIRED)
endif()

if(BUILD_BENCHMARKS)
  find_package(benchmark REQUIRED)
  # Reference FFTs, linked into the benchmarks only, never into the product.
  pkg_check_modules(FFTW3F REQUIRED IMPORTED_TARGET fftw3f)
  pkg_check_modules(KISSFFT REQUIRED IMPORTED_TARGET kissfft-float)
endif()
