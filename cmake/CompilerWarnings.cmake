# Warnings for our own targets only; dependencies come in as system headers.
function(okr_enable_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wold-style-cast)
endfunction()
