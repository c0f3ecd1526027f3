# One interface target that every target links: language level, warnings,
# strict Qt defines and the optional sanitizers.
add_library(zantry_options INTERFACE)
target_compile_features(zantry_options INTERFACE cxx_std_17)
target_compile_options(zantry_options INTERFACE -Wall -Wextra)
target_compile_definitions(zantry_options INTERFACE
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QT_DISABLE_DEPRECATED_BEFORE=0x050F00
  QT_USE_QSTRINGBUILDER)
if(ZANTRY_SANITIZE)
  string(REPLACE ";" "," _zantry_san "${ZANTRY_SANITIZE}")
  target_compile_options(zantry_options INTERFACE -fsanitize=${_zantry_san} -fno-omit-frame-pointer)
  target_link_options(zantry_options INTERFACE -fsanitize=${_zantry_san})
endif()

if(ZANTRY_COVERAGE)
  target_compile_options(zantry_options INTERFACE --coverage)
  target_link_options(zantry_options INTERFACE --coverage)
endif()

if(ZANTRY_FUZZ)
  # Coverage for libFuzzer in every library the targets link.
  target_compile_options(zantry_options INTERFACE -fsanitize=fuzzer-no-link)
endif()

# Every subfolder of DIR that has a CMakeLists.txt, so a new tool, test
# group or benchmark needs no edit of its parent. BINARY_DIR puts each
# folder's build files under BINARY_DIR/<folder> instead of beside its
# program (build/tools/<name> is the tool itself, not a folder).
function(zantry_add_subdirectories dir)
  cmake_parse_arguments(S "" "BINARY_DIR" "EXCLUDE" ${ARGN})
  file(GLOB _children LIST_DIRECTORIES true RELATIVE "${dir}" "${dir}/*")
  list(SORT _children)
  foreach(_child IN LISTS _children)
    if(_child IN_LIST S_EXCLUDE)
      continue()
    endif()
    if(IS_DIRECTORY "${dir}/${_child}" AND EXISTS "${dir}/${_child}/CMakeLists.txt")
      if(S_BINARY_DIR)
        add_subdirectory("${_child}" "${S_BINARY_DIR}/${_child}")
      else()
        add_subdirectory("${_child}")
      endif()
    endif()
  endforeach()
endfunction()
