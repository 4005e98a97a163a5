# Warnings as errors on our own code only; third-party headers come in as system includes.
function(cellstation_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
  # GCC 12's -Wrestrict misfires inside libstdc++ on a string literal joined to a std::string
  # when optimising (GCC bug 105651, mended in GCC 13): the release build would fail on
  # correct code such as "{" + name + "}".
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  # In a unity build each source is an included file: GCC then warns about classes whose
  # members use another source's internal types, which is harmless there.
  if(CMAKE_UNITY_BUILD AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wno-subobject-linkage)
  endif()
endfunction()
