# Writes OUTPUT: a C++ table of the language environment's sources (SOURCE_DIR/*.zel, then
# LIBRARY_DIR/*.zel, each in file-name order), each as a raw string literal, so that start-up
# needs no file of its own.
file(GLOB SOURCES ${SOURCE_DIR}/*.zel)
list(SORT SOURCES)
if(LIBRARY_DIR)
  file(GLOB library_sources ${LIBRARY_DIR}/*.zel)
  list(SORT library_sources)
  list(APPEND SOURCES ${library_sources})
endif()
set(body "// Generated from boot/env/*.zel and library/*.zel at build time.\n#include \"boot/environment.h\"\n\nnamespace boot {\n\nconst EnvironmentSource environment_sources[] = {\n")
foreach(source ${SOURCES})
  file(READ ${source} text)
  get_filename_component(name ${source} NAME)
  string(APPEND body "  {\"${name}\", R\"zel_source(${text})zel_source\"},\n")
endforeach()
string(APPEND body "};\nconst int environment_source_count = sizeof(environment_sources) / sizeof(environment_sources[0]);\n\n}  // namespace boot\n")
file(WRITE ${OUTPUT}.tmp "${body}")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
