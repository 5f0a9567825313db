# Behaviour code (common/ and the program folders, apart from each program's main.cpp and its Qt views)
# never includes a Linux adapter or a platform library's header, and no behaviour library links one.
# ICU is used by common/text alone.
# Included by the top-level CMakeLists to check the links at configure time and to add a build step that
# scans the includes; run as a script (cmake -P) it does the scan.

if(CMAKE_SCRIPT_MODE_FILE)
  cmake_minimum_required(VERSION 3.25)
endif()

set(QUILLET_BEHAVIOUR_FOLDERS common quillet-dictate quillet-capture quillet-presence)
# Adapters, Qt, PulseAudio, AT-SPI, X11, curl, SQLite, soxr, PocketSphinx and libsndfile.
set(QUILLET_FORBIDDEN_INCLUDE
    "#include[ \t]*[<\"](platform/linux/|Q[A-Za-z]+[>\"]|QtCore/|QtGui/|QtWidgets/|pulse/|atspi/|at-spi|X11/|xcb/|curl/|sqlite3|soxr|pocketsphinx|sndfile)")
# ICU, which only the text helpers in common/text may use.
set(QUILLET_ICU_INCLUDE "#include[ \t]*[<\"]unicode/")

function(quillet_scan_behaviour_includes root)
  set(offences "")
  foreach(folder IN LISTS QUILLET_BEHAVIOUR_FOLDERS)
    file(GLOB_RECURSE sources "${root}/${folder}/*.h" "${root}/${folder}/*.cpp")
    foreach(source IN LISTS sources)
      file(RELATIVE_PATH relative "${root}" "${source}")
      if(relative MATCHES "/main\\.cpp$" OR relative MATCHES "/views/")
        continue()
      endif()
      set(forbidden "${QUILLET_FORBIDDEN_INCLUDE}|${QUILLET_ICU_INCLUDE}")
      if(relative MATCHES "^common/text/")
        set(forbidden "${QUILLET_FORBIDDEN_INCLUDE}")
      endif()
      file(STRINGS "${source}" lines REGEX "${forbidden}")
      foreach(line IN LISTS lines)
        string(APPEND offences "\n  ${relative}: ${line}")
      endforeach()
    endforeach()
  endforeach()
  if(offences)
    message(FATAL_ERROR "behaviour code includes adapters or platform libraries (pass a port in instead):${offences}")
  endif()
endfunction()

# Fails the configuration when a behaviour library links an adapter library or a platform library.
function(quillet_check_behaviour_links)
  set(forbidden quillet_platform_linux Qt6::Core Qt6::Gui Qt6::Widgets PkgConfig::PULSE PkgConfig::ATSPI
      PkgConfig::X11 PkgConfig::XI PkgConfig::XTST PkgConfig::XCB CURL::libcurl PkgConfig::SQLITE3
      PkgConfig::SOXR PkgConfig::POCKETSPHINX PkgConfig::SNDFILE)
  foreach(target IN LISTS ARGN)
    get_target_property(linked ${target} LINK_LIBRARIES)
    get_target_property(passed ${target} INTERFACE_LINK_LIBRARIES)
    foreach(library IN LISTS linked passed)
      if(library IN_LIST forbidden)
        message(FATAL_ERROR "the behaviour library ${target} links ${library}; only a program's main may pick adapters")
      endif()
      # ICU stays behind the text helpers of the shared library.
      if(library STREQUAL "PkgConfig::ICU" AND NOT target STREQUAL "quillet_common")
        message(FATAL_ERROR "the behaviour library ${target} links ICU; use the helpers in common/text")
      endif()
    endforeach()
  endforeach()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  quillet_scan_behaviour_includes("${QUILLET_SOURCE_ROOT}")
endif()
