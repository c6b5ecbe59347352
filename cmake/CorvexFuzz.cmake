# libFuzzer targets. A fuzz build instruments everything with
# -fsanitize=fuzzer-no-link (plus the sanitizers of CORVEX_SANITIZE) and links
# only the fuzz executables with the libFuzzer driver.
if(CORVEX_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "CORVEX_BUILD_FUZZ needs clang (libFuzzer)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# corvex_fuzzer(<name> SOURCES <files...> LIBS <targets...>)
function(corvex_fuzzer name)
  if(NOT CORVEX_BUILD_FUZZ)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  corvex_warnings(${name})
  set_property(GLOBAL APPEND PROPERTY CORVEX_FUZZERS ${name})
endfunction()
