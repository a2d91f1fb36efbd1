# Warnings are errors for every target of our own; dependency builds opt out.
function(zel_target_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
