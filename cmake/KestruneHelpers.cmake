# Small helpers shared by every target.

function(kestrune_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  # GCC 12 at -O3 reports -Wrestrict on plain std::string concatenation (GCC bug 105329), a false
  # positive inside libstdc++ that would otherwise fail every Release build.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  if(KESTRUNE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

if(KESTRUNE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# ThreadSanitizer cannot share a process with AddressSanitizer, so it has a build tree of its own.
if(KESTRUNE_TSAN)
  if(KESTRUNE_SANITIZE OR KESTRUNE_FUZZ)
    message(FATAL_ERROR "KESTRUNE_TSAN cannot be combined with KESTRUNE_SANITIZE or KESTRUNE_FUZZ")
  endif()
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# Fuzz builds instrument everything for coverage; the fuzz targets add libFuzzer's main.
if(KESTRUNE_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
