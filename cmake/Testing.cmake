# m770b_add_wine_test(NAME TARGET [ARGS...]): one ctest entry per test program (each Wine
# process start costs hundreds of milliseconds, so a program runs all of its cases at once).
# Under the x86_64 toolchain ctest starts it through wine64; a hung program is killed.
function(m770b_add_wine_test name target)
  add_test(NAME ${name} COMMAND ${target} ${ARGN})
  set_tests_properties(${name} PROPERTIES TIMEOUT 900)
endfunction()
