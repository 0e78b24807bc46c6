# The post-link step of the product DLL: gives it the stored block "ELDATA"
# (options, numbered symbols, line tables) that describes its final code.
#
#   1. The DLL is linked once more as <target>_unstamped, from the same
#      sources, libraries and options.
#   2. eldata (built natively for the build machine) reads that link's DWARF
#      and writes the block.
#   3. The product is linked with the block as a raw-data resource. The
#      resources come after code and data, so no address the block describes
#      moves; eldata verify proves it, section by section.
#   4. The full debug information goes to <dll>.debug, and the shipped DLL is
#      stripped of it (with a debug link pointing there), by the objcopy of
#      the target's own toolchain.
#
# 32-bit (PE32) and 64-bit (PE32+) modules are stamped alike; a 64-bit
# module's subsystem still starts inactive, but its block is there and
# describes its code.
#
# Options come from tools/eldata/band_options.conf; VELLUM_ELDATA_PASSWORD
# protects the names in the line tables (empty: readable by every report).

include(ExternalProject)

set(VELLUM_ELDATA_PASSWORD "" CACHE STRING "Password that protects the names in the product's line tables")
# 64-bit Windows puts 64-bit DLLs above 4 GB, and there ASLR has the most
# room; the 64-bit product asks for a base there too, so that every address
# of its code (in reports, in the block, in exlog) takes all 64 bits.
set(VELLUM_PRODUCT_IMAGE_BASE 0x6B400000 CACHE STRING "Preferred base of the 32-bit product DLL")
set(VELLUM_PRODUCT_IMAGE_BASE_64 0x16B400000 CACHE STRING "Preferred base of the 64-bit product DLL")

# vellum_stamp_stored_block(TARGET [OPTIONS file] [IMAGE_BASE address]): a DLL
# or a program; OPTIONS defaults to the product's options file.
function(vellum_stamp_stored_block target)
  cmake_parse_arguments(A "" "OPTIONS;IMAGE_BASE" "" ${ARGN})
  if(NOT A_OPTIONS)
    set(A_OPTIONS ${VELLUM_SOURCE_ROOT}/tools/eldata/band_options.conf)
  endif()
  if(NOT A_IMAGE_BASE AND VELLUM_ARCH STREQUAL "x64")
    set(A_IMAGE_BASE ${VELLUM_PRODUCT_IMAGE_BASE_64})
  elseif(NOT A_IMAGE_BASE)
    set(A_IMAGE_BASE ${VELLUM_PRODUCT_IMAGE_BASE})
  endif()
  get_target_property(target_type ${target} TYPE)
  set(host_dir ${CMAKE_BINARY_DIR}/eldata-host)
  set(eldata_tool ${host_dir}/tools/eldata/eldata)
  if(NOT TARGET eldata_host)
    ExternalProject_Add(eldata_host
      SOURCE_DIR ${VELLUM_SOURCE_ROOT}
      BINARY_DIR ${host_dir}
      # GCC 12 optimising warns falsely (restrict) in inlined string code.
      CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DVELLUM_SANITIZE=OFF "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG -Wno-restrict"
                 -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++
      BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target eldata exlog
      INSTALL_COMMAND ""
      BUILD_ALWAYS ON
      BUILD_BYPRODUCTS ${eldata_tool} ${host_dir}/tools/eldata/exlog)
  endif()

  # ld derives a DLL's automatic preferred base from the output path, so the
  # two links would get different bases; both get the same fixed one.
  target_link_options(${target} PRIVATE -Wl,--image-base,${A_IMAGE_BASE})

  # The block joins the module's resources, which come after its code and
  # data; a module without resources of its own gets an empty one in both
  # links, so that its resource section is there from the first link on.
  get_target_property(sources ${target} SOURCES)
  list(FILTER sources INCLUDE REGEX "\\.rc$")
  if(NOT sources)
    set(placeholder ${CMAKE_CURRENT_BINARY_DIR}/eldata/${target}/resources.rc)
    file(WRITE ${placeholder} "VELLUM_RESOURCES RCDATA { 0 }\n")
    target_sources(${target} PRIVATE ${placeholder})
  endif()

  # The first link: everything the product links, nothing more.
  set(unstamped ${target}_unstamped)
  get_target_property(sources ${target} SOURCES)
  get_target_property(libraries ${target} LINK_LIBRARIES)
  get_target_property(link_options ${target} LINK_OPTIONS)
  get_target_property(compile_options ${target} COMPILE_OPTIONS)
  get_target_property(include_dirs ${target} INCLUDE_DIRECTORIES)
  get_target_property(definitions ${target} COMPILE_DEFINITIONS)
  if(target_type STREQUAL "EXECUTABLE")
    add_executable(${unstamped} ${sources})
  else()
    add_library(${unstamped} SHARED ${sources})
  endif()
  target_link_libraries(${unstamped} PRIVATE ${libraries})
  if(link_options)
    target_link_options(${unstamped} PRIVATE ${link_options})
  endif()
  if(compile_options)
    target_compile_options(${unstamped} PRIVATE ${compile_options})
  endif()
  # The same directories in the same kind: a header read as a system header
  # in one link and not in the other compiles to other code.
  if(include_dirs AND VELLUM_CATCH2_DIR)
    list(FIND include_dirs ${VELLUM_CATCH2_DIR} catch2_at)
    if(catch2_at GREATER -1)
      list(REMOVE_ITEM include_dirs ${VELLUM_CATCH2_DIR})
      target_include_directories(${unstamped} SYSTEM PRIVATE ${VELLUM_CATCH2_DIR})
    endif()
  endif()
  if(include_dirs)
    target_include_directories(${unstamped} PRIVATE ${include_dirs})
  endif()
  if(definitions)
    target_compile_definitions(${unstamped} PRIVATE ${definitions})
  endif()
  set_target_properties(${unstamped} PROPERTIES PREFIX "" OUTPUT_NAME ${target}
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/unstamped ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/unstamped)

  set(block_dir ${CMAKE_CURRENT_BINARY_DIR}/eldata/${target})
  set(block ${block_dir}/ELDATA.bin)
  set(options_file ${A_OPTIONS})
  add_custom_command(OUTPUT ${block}
    COMMAND ${eldata_tool} stamp $<TARGET_FILE:${unstamped}> ${block} --options ${options_file}
            --password "${VELLUM_ELDATA_PASSWORD}"
    DEPENDS ${unstamped} ${eldata_tool} ${options_file}
    COMMENT "Writing the stored block of ${target}"
    VERBATIM)
  file(WRITE ${block_dir}/eldata.rc "ELDATA RCDATA \"${block}\"\n")
  set_source_files_properties(${block_dir}/eldata.rc PROPERTIES OBJECT_DEPENDS ${block})
  target_sources(${target} PRIVATE ${block_dir}/eldata.rc)
  add_dependencies(${target} eldata_host)

  # The toolchain's objcopy: a 32-bit one would not write a PE32+ file.
  if(NOT CMAKE_OBJCOPY)
    message(FATAL_ERROR "the toolchain has no objcopy to split the debug information of ${target}")
  endif()
  set(dll $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${dll} ${dll}.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=${dll}.debug ${dll}
    COMMAND ${eldata_tool} verify $<TARGET_FILE:${unstamped}> ${dll}
    VERBATIM)

  set(VELLUM_ELDATA_TOOL ${eldata_tool} PARENT_SCOPE)
  set(VELLUM_EXLOG_HOST_TOOL ${host_dir}/tools/eldata/exlog PARENT_SCOPE)
endfunction()
