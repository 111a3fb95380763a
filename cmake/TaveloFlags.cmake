# Compiler flags shared by every target: warnings on, no contraction of a*b+c into fused
# multiply-adds and no fast-math, so results do not depend on the instruction set chosen.
add_compile_options(-Wall -Wextra -Wformat=2 -ffp-contract=off -fno-fast-math)
# 64-bit file positions (off_t, ftello, fseeko) on 32-bit targets too: result files grow past
# 2 GiB in long runs.
add_compile_definitions(_FILE_OFFSET_BITS=64)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_compile_options(-msse2 -mfpmath=sse)
endif()

if(TAVELO_SANITIZE)
  set(TAVELO_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${TAVELO_SANITIZER_FLAGS})
  add_link_options(${TAVELO_SANITIZER_FLAGS})
endif()
