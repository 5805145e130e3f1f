# The decoders' tables, generated from the WHATWG data in text/whatwg by a small tool built
# first, so that the decoders agree with browsers character for character. Include it where a
# target compiles ${GIFTVANE_ENCODING_TABLES}.
set(GIFTVANE_WHATWG_DATA ${CMAKE_CURRENT_LIST_DIR}/whatwg)
set(GIFTVANE_ENCODING_TABLES ${CMAKE_BINARY_DIR}/generated/encodingtables.cpp)

# Qt Core reads the labels' JSON. Built without the shared settings: it runs during the build
# and takes no part in what is tested or shipped.
add_executable(giftvane_maketables ${CMAKE_CURRENT_LIST_DIR}/maketables.cpp)
target_link_libraries(giftvane_maketables PRIVATE Qt6::Core)
target_compile_features(giftvane_maketables PRIVATE cxx_std_20)
target_compile_options(giftvane_maketables PRIVATE -Wall -Wextra)
target_compile_definitions(giftvane_maketables PRIVATE QT_NO_CAST_FROM_ASCII QT_USE_QSTRINGBUILDER)
set_target_properties(giftvane_maketables PROPERTIES AUTOMOC OFF RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)

add_custom_command(OUTPUT ${GIFTVANE_ENCODING_TABLES}
  COMMAND giftvane_maketables ${GIFTVANE_WHATWG_DATA} ${GIFTVANE_ENCODING_TABLES}
  DEPENDS giftvane_maketables ${GIFTVANE_WHATWG_DATA}/encodings.json
    ${GIFTVANE_WHATWG_DATA}/index-gb18030.txt ${GIFTVANE_WHATWG_DATA}/index-gb18030-ranges.txt
    ${GIFTVANE_WHATWG_DATA}/index-big5.txt
  COMMENT "Generating the encoding tables from the WHATWG data"
  VERBATIM)
