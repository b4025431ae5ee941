# Compiler flags, set target by target through morvane_target_flags().
#
# MORVANE_WERROR turns warnings into errors; MORVANE_SANITIZERS, when not
# empty, is the -fsanitize= list that compiles and links the target.

set(MORVANE_WARNINGS -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow)

function(morvane_target_flags target)
  # -ffp-contract=off: exact floating point, no fused multiply-add, so the
  # two record kernels and the reference agree bit for bit.
  target_compile_options(${target} PRIVATE ${MORVANE_WARNINGS} $<$<BOOL:${MORVANE_WERROR}>:-Werror>
                         -ffp-contract=off)
  if(MORVANE_SANITIZERS)
    target_compile_options(${target} PRIVATE -fsanitize=${MORVANE_SANITIZERS} -fno-sanitize-recover=all
                           -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=${MORVANE_SANITIZERS})
  endif()
endfunction()
