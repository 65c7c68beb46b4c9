# The stub: the portable engine, the Win32 platform layer, start-up, the
# dialogs and the resources, linked without any C or C++ runtime, then laid
# out by stubimage into ${LZHSFX_BIN_DIR}/sfxstub.exe (sfxstub64.exe for the
# 64-bit twin that only the Wine tests run).
enable_language(RC)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(STUB_NAME sfxstub64)
  set(STUB_SIZE_LIMIT "")
  set(STUB_ENTRY SfxEntry)
  set(STUB_HOOK GetDirDlgHookProc)
else()
  set(STUB_NAME sfxstub)
  # The shipped stub must stay within 32 KB; the build fails beyond that.
  set(STUB_SIZE_LIMIT --max-size 32768)
  # 32-bit C symbols carry a leading underscore.
  set(STUB_ENTRY _SfxEntry)
  # The hook is stdcall: decorated with its argument bytes as well.
  set(STUB_HOOK _GetDirDlgHookProc@16)
  # Windows keeps 32-bit stacks 4-byte aligned; asking for more only adds
  # realignment code to every function that keeps locals. Arguments are
  # pushed: storing them into a reserved area costs twice the bytes at
  # every call. The compiler reserves that area whenever it may probe the
  # stack, which only frames of a page or more need; the stub has none (its
  # large buffers live in the work area), and the build fails should one
  # appear, since no runtime routine is linked to probe it. Constant arrays
  # keep the alignment their type needs, not the 32 bytes the compiler
  # gives arrays for vector loads the stub never makes.
  set(STUB_ARCH_FLAGS -mpreferred-stack-boundary=2 -mno-stack-arg-probe
      -mno-accumulate-outgoing-args -fomit-frame-pointer -Werror=frame-larger-than=4000
      -malign-data=abi)
endif()

file(GLOB STUB_SOURCES CONFIGURE_DEPENDS
  base/*.cpp core/*.cpp extract/*.cpp startup/*.cpp ui/*.cpp)
# Files whose name ends in _host hold what only the host tool reads and
# decodes (the other header levels, the older methods); the stub never links them.
list(FILTER STUB_SOURCES EXCLUDE REGEX "_host\\.cpp$")
list(APPEND STUB_SOURCES platform/win32.cpp resources/sfx.rc)

# windres reads the UTF-8 .rc and stores the dialog texts as Unicode.
set(CMAKE_RC_FLAGS "-c 65001")
# Nothing from the default Windows library list: the stub names its own.
set(CMAKE_CXX_STANDARD_LIBRARIES "")

# -Oz: the code the stub does not spend its time in (all but what
# base/speed.h marks) is compiled for size before anything else.
add_executable(sfxstub_linked WIN32 ${STUB_SOURCES})
set_target_properties(sfxstub_linked PROPERTIES OUTPUT_NAME ${STUB_NAME}-linked)
target_compile_options(sfxstub_linked PRIVATE
  $<$<COMPILE_LANGUAGE:CXX>:${LZHSFX_CP932_FLAGS} -Oz -fno-exceptions -fno-rtti
  -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-threadsafe-statics
  -ffunction-sections -fdata-sections -fno-stack-protector -fno-ident
  -fno-tree-loop-distribute-patterns -flto ${STUB_ARCH_FLAGS}>)
# Files the resource compiler and the linker read beside their sources.
set_source_files_properties(resources/sfx.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_CURRENT_SOURCE_DIR}/resources/sfx.ico;${CMAKE_CURRENT_SOURCE_DIR}/resources/sfx.manifest;${CMAKE_CURRENT_SOURCE_DIR}/resources/resource.h")
set_target_properties(sfxstub_linked PROPERTIES LINK_DEPENDS
  "${CMAKE_CURRENT_SOURCE_DIR}/resources/sfx.def;${CMAKE_CURRENT_SOURCE_DIR}/cmake/stub.ld")
# The memory routines must stay loops, not calls to themselves. They stay
# out of link-time optimisation too: the code generator may call them after
# the optimiser has seen the whole program, so they must be plain objects.
set_source_files_properties(startup/crt_win32.cpp PROPERTIES COMPILE_OPTIONS "-fno-builtin;-fno-lto")
# Link-time optimisation lets the optimiser see the whole stub at once and
# drop or fold what no caller needs; the link repeats -Oz and the sections
# per function because the code is generated there (a clone the optimiser
# made and later stopped calling is then left to --gc-sections). The
# optimiser does not read the .def file, so the exported hook is named to it
# as referenced from outside (-u); otherwise it would be made local and the
# export would point at nothing.
target_link_options(sfxstub_linked PRIVATE
  -nostartfiles -nostdlib -static -s -flto -Oz -ffunction-sections
  ${STUB_ARCH_FLAGS}
  -Wl,-T,${CMAKE_CURRENT_SOURCE_DIR}/cmake/stub.ld -Wl,--no-insert-timestamp
  -Wl,-u,${STUB_HOOK}
  -Wl,--gc-sections -Wl,-e,${STUB_ENTRY} -Wl,--subsystem,windows
  -Wl,--enable-stdcall-fixup ${CMAKE_CURRENT_SOURCE_DIR}/resources/sfx.def)
# libgcc only for the helpers the compiler itself calls (stack probes,
# 64-bit division on i686); it brings in no runtime start-up.
target_link_libraries(sfxstub_linked PRIVATE kernel32 user32 gdi32 gcc)

# stubimage runs on the build machine; the cross toolchain cannot build it,
# so it is compiled here with the host compiler.
find_program(LZHSFX_HOST_CXX NAMES g++ c++ REQUIRED NO_CMAKE_FIND_ROOT_PATH)
set(STUBIMAGE_TOOL ${CMAKE_CURRENT_BINARY_DIR}/stubimage-host)
add_custom_command(
  OUTPUT ${STUBIMAGE_TOOL}
  COMMAND ${LZHSFX_HOST_CXX} -std=c++20 -O2 -Wall -Wextra -finput-charset=UTF-8
          -fexec-charset=CP932 -o ${STUBIMAGE_TOOL}
          ${CMAKE_CURRENT_SOURCE_DIR}/stubimage/stubimage.cpp -I${CMAKE_CURRENT_SOURCE_DIR}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/stubimage/stubimage.cpp ${CMAKE_CURRENT_SOURCE_DIR}/core/image.h
          ${CMAKE_CURRENT_SOURCE_DIR}/core/pe.h
  COMMENT "Building stubimage for the build machine")

set(STUB_OUTPUT ${LZHSFX_BIN_DIR}/${STUB_NAME}.exe)
add_custom_command(
  OUTPUT ${STUB_OUTPUT}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${LZHSFX_BIN_DIR}
  COMMAND ${STUBIMAGE_TOOL} $<TARGET_FILE:sfxstub_linked> ${STUB_OUTPUT} ${STUB_SIZE_LIMIT}
  DEPENDS sfxstub_linked ${STUBIMAGE_TOOL}
  COMMENT "Laying out ${STUB_NAME}.exe")
add_custom_target(${STUB_NAME} ALL DEPENDS ${STUB_OUTPUT})
