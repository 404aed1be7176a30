add_compile_options(-Wall -Wextra -Wshadow -Wconversion)
if(ORVANE_WERROR)
  add_compile_options(-Werror)
endif()

# The sub-second arithmetic of brdlink must stay in IEEE single precision:
# no fused multiply-add and no fast-math anywhere in the product.
add_compile_options(-ffp-contract=off -fno-fast-math)

if(ORVANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()

# Shared libraries must not leave symbols unresolved (skipped when sanitizing:
# clang's ASan runtime is not linked into shared objects).
function(orvane_shared_library target)
  if(NOT ORVANE_SANITIZE)
    target_link_options(${target} PRIVATE LINKER:--no-undefined)
  endif()
endfunction()
