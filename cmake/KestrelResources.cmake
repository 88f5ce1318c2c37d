# cmake/KestrelResources.cmake
# kestrel_add_resources(TARGET DESCRIPTION [OWN_MANIFEST FILE])
# What Windows, its users and their security software see of a shipped file:
# a version resource (Properties, Details) for programs and libraries, and for
# programs a manifest that asks for no elevation. Without one Windows
# virtualises a 32-bit program: its writes beside itself go to the user's
# VirtualStore, which the hook library in other programs never reads.
# OWN_MANIFEST: the program's own resource script embeds FILE, made from a
# template of its own with @KESTREL_MANIFEST_EXECUTION@ in it (Kestrel.exe);
# only the version resource is added then.
# Every manifest is listed in the global property KESTREL_MANIFESTS for the
# tests.

# Shown in every file's Properties.
set(KESTREL_COMPANY_NAME "Kestrel")
set(KESTREL_PRODUCT_NAME "Kestrel")
set(KESTREL_LEGAL_COPYRIGHT "Copyright (C) 2026 Kestrel")

# VERSION holds up to four numbers; a version resource always has four.
string(REPLACE "." ";" _parts "${KESTREL_VERSION}")
list(LENGTH _parts _count)
if(_count GREATER 4 OR NOT KESTREL_VERSION MATCHES "^[0-9]+(\\.[0-9]+)*$")
  message(FATAL_ERROR "VERSION '${KESTREL_VERSION}' is not one to four numbers separated by dots")
endif()
foreach(_part IN LISTS _parts)
  if(_part GREATER 65535)
    message(FATAL_ERROR "VERSION '${KESTREL_VERSION}': ${_part} does not fit a version resource")
  endif()
endforeach()
while(_count LESS 4)
  list(APPEND _parts 0)
  math(EXPR _count "${_count} + 1")
endwhile()
list(JOIN _parts "." KESTREL_VERSION_DOTTED)
list(JOIN _parts "," KESTREL_VERSION_COMMAS)

# The manifest names the build's processor architecture: x86 for the shipped
# 32-bit programs, amd64 for the 64-bit ones (an x86 identity in a 64-bit
# program makes Windows refuse to start it).
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(KESTREL_MANIFEST_ARCH amd64)
else()
  set(KESTREL_MANIFEST_ARCH x86)
endif()

# The part every program's manifest shares. Listing the systems up to
# Windows 10 and 11 also keeps them from running the program in the
# compatibility mode of an older one.
set(KESTREL_MANIFEST_EXECUTION [=[
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">
    <security>
      <requestedPrivileges>
        <requestedExecutionLevel level="asInvoker" uiAccess="false"/>
      </requestedPrivileges>
    </security>
  </trustInfo>
  <compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1">
    <application>
      <!-- Windows 7 -->
      <supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>
      <!-- Windows 8 -->
      <supportedOS Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"/>
      <!-- Windows 8.1 -->
      <supportedOS Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}"/>
      <!-- Windows 10 and 11 -->
      <supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>
    </application>
  </compatibility>]=])

set(_kestrel_resources_dir "${CMAKE_CURRENT_LIST_DIR}")

function(kestrel_add_resources target description)
  cmake_parse_arguments(R "" "OWN_MANIFEST" "" ${ARGN})
  get_target_property(_type ${target} TYPE)
  if(_type STREQUAL "EXECUTABLE")
    set(KESTREL_FILE_TYPE VFT_APP)
  elseif(_type STREQUAL "SHARED_LIBRARY")
    set(KESTREL_FILE_TYPE VFT_DLL)
  else()
    message(FATAL_ERROR "kestrel_add_resources: ${target} is neither a program nor a library")
  endif()
  set(KESTREL_FILE_DESCRIPTION "${description}")
  set(KESTREL_TARGET ${target})

  # The file's name is known only at generate time (OUTPUT_NAME, PREFIX):
  # the variables go in now, the generator expressions below afterwards.
  set(_dir "${CMAKE_CURRENT_BINARY_DIR}/${target}_resources")
  set(KESTREL_MANIFEST_LINE "")
  set(_depends "")
  if(R_OWN_MANIFEST)
    set_property(GLOBAL APPEND PROPERTY KESTREL_MANIFESTS "${R_OWN_MANIFEST}")
  elseif(_type STREQUAL "EXECUTABLE")
    configure_file("${_kestrel_resources_dir}/kestrel-program.manifest.in"
      "${_dir}/program.manifest.in" @ONLY)
    file(GENERATE OUTPUT "${_dir}/program.manifest" INPUT "${_dir}/program.manifest.in")
    set(KESTREL_MANIFEST_LINE
      "CREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST \"${_dir}/program.manifest\"")
    set(_depends "${_dir}/program.manifest")
    set_property(GLOBAL APPEND PROPERTY KESTREL_MANIFESTS "${_dir}/program.manifest")
  endif()
  configure_file("${_kestrel_resources_dir}/kestrel-resources.rc.in" "${_dir}/resources.rc.in"
    @ONLY)
  file(GENERATE OUTPUT "${_dir}/resources.rc" INPUT "${_dir}/resources.rc.in")

  set_source_files_properties("${_dir}/resources.rc" PROPERTIES GENERATED TRUE
    OBJECT_DEPENDS "${_depends}")
  target_sources(${target} PRIVATE "${_dir}/resources.rc")
endfunction()
