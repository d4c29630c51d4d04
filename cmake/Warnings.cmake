# Warnings for our own targets only; third-party headers are included as
# system headers by their packages.
function(dovel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
endfunction()
