# Warnings are errors on the project's own targets (not on generated moc/uic/rcc code,
# which gets the same flags but is warning-clean on the Qt versions we build with).
function(kalvessa_target_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
