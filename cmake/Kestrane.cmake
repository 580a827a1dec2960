# Helpers shared by the component folders.

# kestrane_bridge_library(<name> MAP <version-script> SOURCES ...)
# A JNI library: bridgecommon compiled in, the peers' generated headers on the include path,
# and a version script that holds the exported set to the JNI entry points and the helpers
# the library carries.
function(kestrane_bridge_library name)
  cmake_parse_arguments(ARG "" "MAP" "SOURCES;LIBRARIES" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES} $<TARGET_OBJECTS:bridgecommon>)
  # The export check reads the version script as the list of what the library may export.
  set_target_properties(${name} PROPERTIES KESTRANE_MAP "${ARG_MAP}")
  target_link_libraries(${name} PRIVATE bridgecommon_headers kestrane_jni_headers ${ARG_LIBRARIES})
  target_link_options(${name} PRIVATE
    "-Wl,--version-script=${ARG_MAP}" "-Wl,--no-undefined" "-Wl,-z,defs")
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS "${ARG_MAP}")
  set_target_properties(${name} PROPERTIES LIBRARY_OUTPUT_DIRECTORY "${KESTRANE_NATIVE_DIR}")
endfunction()

# kestrane_gtest(<name> SOURCES ... LIBRARIES ... [ENV VAR=value ...] [JVM])
# A GoogleTest binary registered with CTest under the label "cpp". JVM: the test starts a
# Java virtual machine in-process and needs the sanitizer options that let the JVM keep its
# own signal handling.
function(kestrane_gtest name)
  cmake_parse_arguments(ARG "JVM" "" "SOURCES;LIBRARIES;ENV" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  # The header-only helpers of testsupport/ hold their descriptors in the base holders.
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main ${ARG_LIBRARIES} kestrane_base)
  target_include_directories(${name} PRIVATE "${CMAKE_SOURCE_DIR}/testsupport")
  set(env ${ARG_ENV})
  if(ARG_JVM)
    target_link_libraries(${name} PRIVATE kestrane_testjvm)
    list(APPEND env "KESTRANE_PEERS_JAR=${KESTRANE_PEERS_JAR}" "KESTRANE_NATIVE_DIR=${KESTRANE_NATIVE_DIR}")
  endif()
  if(SANITIZE)
    # The JVM uses SIGSEGV on purpose (safepoints, implicit null checks) and keeps memory
    # for the life of the process, so the sanitizer must not take those signals nor count
    # the JVM's allocations as leaks.
    list(APPEND env "ASAN_OPTIONS=handle_segv=0:allow_user_segv_handler=1:detect_leaks=0:use_sigaltstack=0"
                    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
  endif()
  # One process per binary: JNI tests start a JVM, which is worth doing once, not per case.
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS cpp ENVIRONMENT "${env}")
  # The target cpp_tests (made at the end of the top-level CMakeLists.txt) builds every C++
  # test binary and, through their dependencies, what they load; the sanitizer stage of
  # scripts/test builds only that.
  set_property(GLOBAL APPEND PROPERTY KESTRANE_CPP_TESTS ${name})
endfunction()

# kestrane_junit(<name> SOURCES ... [ENV VAR=value ...] [SESSION_BUS])
# JUnit 5 tests compiled against the peers and run by the console launcher under CTest with
# the label "java". The libraries are loaded from the build folder. SESSION_BUS: the JVM runs
# on a private session bus of its own (dbus-run-session), for what the desktop sees of it.
function(kestrane_junit name)
  cmake_parse_arguments(ARG "SESSION_BUS" "" "SOURCES;ENV;JVM_ARGS" ${ARGN})
  set(launcher)
  if(ARG_SESSION_BUS)
    set(launcher ${DBUS_RUN_SESSION_EXECUTABLE} --)
  endif()
  add_jar(${name} SOURCES ${ARG_SOURCES}
    INCLUDE_JARS kestrane_peers "${JUNIT_CONSOLE_JAR}"
    OUTPUT_DIR "${CMAKE_BINARY_DIR}/java")
  get_target_property(jar ${name} JAR_FILE)
  get_target_property(peers kestrane_peers JAR_FILE)
  add_dependencies(${name} osbridge catalogbridge dspbridge)
  add_test(NAME ${name}
    COMMAND ${launcher} ${Java_JAVA_EXECUTABLE} -Xcheck:jni -Dkestrane.native.dir=${KESTRANE_NATIVE_DIR}
      "-Dkestrane.test.classpath=${peers}:${jar}" ${ARG_JVM_ARGS}
      -jar "${JUNIT_CONSOLE_JAR}" --disable-banner --disable-ansi-colors --details=tree --fail-if-no-tests
      --class-path "${peers}:${jar}" --scan-class-path)
  # -Xcheck:jni must find nothing to say about our libraries.
  set_tests_properties(${name} PROPERTIES LABELS java ENVIRONMENT "${ARG_ENV}"
    FAIL_REGULAR_EXPRESSION "WARNING in native method")
endfunction()
