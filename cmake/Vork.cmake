# Shared build helpers: warnings, sanitizers, tests in C++ and in a JVM, fuzzers, benchmarks.

set(VORK_WARNINGS -Wall -Wextra)
if(VORK_SANITIZE_ADDRESS AND VORK_SANITIZE_THREAD)
  message(FATAL_ERROR "Choose one sanitizer build at a time")
endif()
if(VORK_SANITIZE_ADDRESS)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(VORK_SANITIZE_THREAD)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE RelWithDebInfo)
endif()

find_package(Threads REQUIRED)
find_package(GTest REQUIRED)
# The installed OpenJDK 17: the JDK that owns /usr/bin/javac.
find_program(VORK_JAVAC javac REQUIRED)
get_filename_component(_javac_real ${VORK_JAVAC} REALPATH)
get_filename_component(VORK_JDK_HOME ${_javac_real} DIRECTORY)
get_filename_component(VORK_JDK_HOME ${VORK_JDK_HOME} DIRECTORY)
set(JNI_INCLUDE_DIRS ${VORK_JDK_HOME}/include ${VORK_JDK_HOME}/include/linux)
if(NOT EXISTS ${VORK_JDK_HOME}/include/jni.h)
  message(FATAL_ERROR "No jni.h in ${VORK_JDK_HOME}: install openjdk-17-jdk")
endif()
set(Java_JAVAC_EXECUTABLE ${VORK_JDK_HOME}/bin/javac)
set(VORK_JAVA ${VORK_JDK_HOME}/bin/java)
if(VORK_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()

set(VORK_JUNIT_JAR /usr/share/java/junit-platform-console-standalone.jar)
set(VORK_JAVA_CLASSES ${CMAKE_BINARY_DIR}/java/classes)

# Sanitizer runtime to preload into a JVM that loads instrumented libraries.
set(VORK_JVM_PRELOAD "")
if(VORK_SANITIZE_ADDRESS)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                  OUTPUT_VARIABLE _asan OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libubsan.so
                  OUTPUT_VARIABLE _ubsan OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(VORK_JVM_PRELOAD "${_asan}:${_ubsan}")
endif()

# A shared library of the system or of the substitute platform: lib<name>.so in build/lib.
function(vork_library name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS;INCLUDES;PUBLIC_INCLUDES" ${ARGN})
  add_library(${name} SHARED ${A_SOURCES})
  target_compile_options(${name} PRIVATE ${VORK_WARNINGS})
  target_include_directories(${name} PRIVATE ${A_INCLUDES} PUBLIC ${A_PUBLIC_INCLUDES})
  target_link_libraries(${name} PRIVATE ${A_LIBS})
endfunction()

# A JNI library: only the natives (and whatever else is named in EXPORTS) leave the library.
function(vork_jni_library name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS;INCLUDES" ${ARGN})
  add_library(${name} SHARED ${A_SOURCES})
  target_compile_options(${name} PRIVATE ${VORK_WARNINGS} -fvisibility=hidden)
  target_include_directories(${name} PRIVATE ${A_INCLUDES} ${JNI_INCLUDE_DIRS})
  target_link_libraries(${name} PRIVATE ${A_LIBS})
endfunction()

# A GoogleTest program registered with CTest (label "unit" unless LABELS says otherwise).
function(vork_gtest name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS;INCLUDES;LABELS;DEPENDS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_compile_options(${name} PRIVATE ${VORK_WARNINGS})
  target_include_directories(${name} PRIVATE ${A_INCLUDES})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main Threads::Threads ${A_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(A_DEPENDS)
    add_dependencies(${name} ${A_DEPENDS})
  endif()
  if(NOT A_LABELS)
    set(A_LABELS unit)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS "${A_LABELS}"
    ENVIRONMENT "VORK_BUILD_DIR=${CMAKE_BINARY_DIR};VORK_SOURCE_DIR=${CMAKE_SOURCE_DIR};${A_ENVIRONMENT}")
endfunction()

# Java classes (stand-ins and tests) compiled into build/java/<name>.
# JUnit tests: vork_junit(<name> SOURCES <java files> [CLASSPATH <dirs>] [DEPENDS <native targets>])
# runs every test class of the sources in a real JVM with build/lib as java.library.path.
function(vork_java_classes name)
  cmake_parse_arguments(A "" "" "SOURCES;CLASSPATH;DEPENDS" ${ARGN})
  set(out ${CMAKE_BINARY_DIR}/java/${name})
  set(stamp ${CMAKE_BINARY_DIR}/java/${name}.stamp)
  string(REPLACE ";" ":" cp "${VORK_JUNIT_JAR};${A_CLASSPATH}")
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
    COMMAND ${Java_JAVAC_EXECUTABLE} -nowarn -encoding UTF-8 -d ${out} -cp ${cp} ${A_SOURCES}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${A_SOURCES} ${A_DEPENDS}
    COMMENT "Compiling Java ${name}")
  add_custom_target(${name} ALL DEPENDS ${stamp})
  if(A_DEPENDS)
    add_dependencies(${name} ${A_DEPENDS})
  endif()
  set_property(TARGET ${name} PROPERTY VORK_CLASSES ${out})
endfunction()

function(vork_junit name)
  cmake_parse_arguments(A "" "" "SOURCES;CLASSPATH;DEPENDS;LABELS;ENVIRONMENT" ${ARGN})
  vork_java_classes(${name} SOURCES ${A_SOURCES} CLASSPATH ${A_CLASSPATH} DEPENDS ${A_DEPENDS})
  set(out ${CMAKE_BINARY_DIR}/java/${name})
  string(REPLACE ";" ":" cp "${out};${A_CLASSPATH}")
  if(NOT A_LABELS)
    set(A_LABELS junit)
  endif()
  add_test(NAME ${name}
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/run-junit.sh ${VORK_JAVA} ${cp})
  set_tests_properties(${name} PROPERTIES LABELS "${A_LABELS}"
    ENVIRONMENT "VORK_BUILD_DIR=${CMAKE_BINARY_DIR};VORK_SOURCE_DIR=${CMAKE_SOURCE_DIR};VORK_JVM_PRELOAD=${VORK_JVM_PRELOAD};VORK_JUNIT_JAR=${VORK_JUNIT_JAR};${A_ENVIRONMENT}")
endfunction()

# A libFuzzer target (only with VORK_FUZZ, built by clang); CTest label "fuzz" runs it briefly.
function(vork_fuzzer name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS;INCLUDES;CORPUS" ${ARGN})
  if(NOT VORK_FUZZ)
    return()
  endif()
  add_executable(${name} ${A_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_include_directories(${name} PRIVATE ${A_INCLUDES})
  target_link_libraries(${name} PRIVATE ${A_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  set(corpus ${CMAKE_BINARY_DIR}/fuzz/${name}-corpus)
  file(MAKE_DIRECTORY ${corpus})
  add_test(NAME ${name} COMMAND ${name} -max_total_time=20 ${corpus} ${A_CORPUS})
  set_tests_properties(${name} PROPERTIES LABELS fuzz)
endfunction()

# A Google Benchmark program in build/bench (not part of the test run).
function(vork_benchmark name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS;INCLUDES" ${ARGN})
  if(NOT VORK_BENCHMARKS)
    return()
  endif()
  add_executable(${name} ${A_SOURCES})
  target_compile_options(${name} PRIVATE ${VORK_WARNINGS})
  target_include_directories(${name} PRIVATE ${A_INCLUDES})
  target_link_libraries(${name} PRIVATE benchmark::benchmark Threads::Threads ${A_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()
