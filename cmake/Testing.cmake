# m770b_add_wine_test(NAME TARGET [ARGS...]): one ctest entry per test program (each Wine
# process start costs hundreds of milliseconds, so a program runs all of its cases at once).
# Under the x86_64 toolchain ctest starts it through scripts/lib/wine-test, which keeps Wine's
# long-lived services off ctest's output pipe; a hung program is killed after five minutes.
set(M770B_WINE_TEST_RUNNER ${CMAKE_SOURCE_DIR}/scripts/lib/wine-test)

function(m770b_add_wine_test name target)
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    add_test(NAME ${name} COMMAND ${M770B_WINE_TEST_RUNNER} $<TARGET_FILE:${target}> ${ARGN})
  else()
    add_test(NAME ${name} COMMAND ${target} ${ARGN})
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT 300)
endfunction()
