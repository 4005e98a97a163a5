# Warnings as errors on our own code only; third-party headers come in as system includes.
function(cellstation_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
endfunction()
