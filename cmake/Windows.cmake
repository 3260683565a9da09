# Building for Windows with MinGW-w64 from Linux (tools/windows/build.sh): the libraries come from
# the cross-building prefix (tools/windows/toolchain.sh), the tests run as Windows executables
# under Wine, and the build folder holds everything the program needs to run beside it.

# The prefix is the one Qt was found in: <prefix>/lib/cmake/Qt6.
get_filename_component(_tarjetas_prefix "${Qt6_DIR}/../../.." ABSOLUTE)
set(TARJETAS_WIN64_PREFIX "${_tarjetas_prefix}" CACHE PATH
    "The prefix holding Qt, SQLite, libqrencode, libmdb and libpq for Windows")

# pkg-config answers for the Windows libraries, never the machine's own.
set(ENV{PKG_CONFIG_LIBDIR} "${TARJETAS_WIN64_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Tests run under Wine, in a Wine prefix of the build folder's own. Wine drops QT_* variables
# from the environment, so the small winenv.exe hands QT_QPA_PLATFORM=offscreen to each test; and
# Qt Test's log goes through a file (see tools/windows/wine-run.sh).
if(CMAKE_CROSSCOMPILING AND TARJETAS_BUILD_TESTS)
  add_executable(winenv "${CMAKE_SOURCE_DIR}/tools/windows/winenv.cpp")
  target_link_libraries(winenv PRIVATE shell32)
  set_target_properties(winenv PROPERTIES AUTOMOC OFF)
  if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_SOURCE_DIR}/tools/windows/wine-run.sh"
        "--prefix" "${CMAKE_BINARY_DIR}/wine" "--env-launcher" "${CMAKE_BINARY_DIR}/winenv.exe"
        "--qtest-log")
  endif()
endif()

# What the program loads at run time, copied beside the executables in the build folder so that
# the program and its tests run from it (and the installer takes the same files).
set(TARJETAS_WIN64_RUNTIME_DLLS
    Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll Qt6PrintSupport.dll Qt6Sql.dll Qt6Concurrent.dll
    libsqlite3-0.dll libqrencode.dll libmdb-3.dll libpq.dll)
set(TARJETAS_WIN64_TEST_DLLS Qt6Test.dll)
set(TARJETAS_WIN64_PLUGINS
    platforms/qwindows.dll platforms/qoffscreen.dll platforms/qminimal.dll
    sqldrivers/qsqlite.dll sqldrivers/qsqlpsql.dll
    styles/qwindowsvistastyle.dll
    imageformats/qgif.dll imageformats/qico.dll imageformats/qjpeg.dll)

# The MinGW runtime of the compiler that builds the program.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
                OUTPUT_VARIABLE _libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libgcc_s_seh-1.dll
                OUTPUT_VARIABLE _libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
find_file(TARJETAS_WINPTHREAD_DLL libwinpthread-1.dll
          PATHS /usr/x86_64-w64-mingw32/lib NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
set(TARJETAS_WIN64_MINGW_DLLS "${_libstdcxx}" "${_libgcc}" "${TARJETAS_WINPTHREAD_DLL}")
foreach(dll IN LISTS TARJETAS_WIN64_MINGW_DLLS)
  if(NOT IS_ABSOLUTE "${dll}" OR NOT EXISTS "${dll}")
    message(FATAL_ERROR "The MinGW runtime library ${dll} was not found: install "
                        "g++-mingw-w64-x86-64-posix (tools/deps.sh windows).")
  endif()
endforeach()

set(_tarjetas_missing "")
foreach(dll IN LISTS TARJETAS_WIN64_RUNTIME_DLLS TARJETAS_WIN64_TEST_DLLS)
  if(NOT EXISTS "${TARJETAS_WIN64_PREFIX}/bin/${dll}")
    list(APPEND _tarjetas_missing "bin/${dll}")
  endif()
endforeach()
foreach(plugin IN LISTS TARJETAS_WIN64_PLUGINS)
  if(NOT EXISTS "${TARJETAS_WIN64_PREFIX}/plugins/${plugin}")
    list(APPEND _tarjetas_missing "plugins/${plugin}")
  endif()
endforeach()
if(NOT EXISTS "${TARJETAS_WIN64_PREFIX}/translations/qtbase_es.qm")
  list(APPEND _tarjetas_missing "translations/qtbase_es.qm")
endif()
if(_tarjetas_missing)
  list(JOIN _tarjetas_missing ", " _tarjetas_missing)
  message(FATAL_ERROR "The prefix ${TARJETAS_WIN64_PREFIX} lacks ${_tarjetas_missing}: run "
                      "tools/windows/toolchain.sh")
endif()

foreach(dll IN LISTS TARJETAS_WIN64_RUNTIME_DLLS TARJETAS_WIN64_TEST_DLLS)
  file(COPY "${TARJETAS_WIN64_PREFIX}/bin/${dll}" DESTINATION "${CMAKE_BINARY_DIR}")
endforeach()
file(COPY ${TARJETAS_WIN64_MINGW_DLLS} DESTINATION "${CMAKE_BINARY_DIR}")
foreach(plugin IN LISTS TARJETAS_WIN64_PLUGINS)
  get_filename_component(_dir "${plugin}" DIRECTORY)
  file(COPY "${TARJETAS_WIN64_PREFIX}/plugins/${plugin}" DESTINATION "${CMAKE_BINARY_DIR}/${_dir}")
endforeach()
file(COPY "${TARJETAS_WIN64_PREFIX}/translations/qtbase_es.qm"
     DESTINATION "${CMAKE_BINARY_DIR}/translations")
# Qt would look for its plugins and texts under the prefix it was built for; qt.conf points it at
# the executable's own folder wherever that lies.
file(WRITE "${CMAKE_BINARY_DIR}/qt.conf" "[Paths]\nPrefix = .\nPlugins = .\nTranslations = translations\n")

# Installed layout, which the installer packs: bin\ with the program, its libraries, plugins and
# texts; share\tarjetas\ with the master configuration file. The master's place tells the
# installed program from a portable folder, as on Linux.
function(tarjetas_windows_install)
  # A window program: started from the menu it opens no console window beside it.
  set_target_properties(tarjetas PROPERTIES WIN32_EXECUTABLE ON)
  set(TARJETAS_ICON "${CMAKE_SOURCE_DIR}/packaging/windows/tarjetas.ico")
  configure_file("${CMAKE_SOURCE_DIR}/packaging/windows/tarjetas.rc.in"
                 "${CMAKE_BINARY_DIR}/tarjetas.rc" @ONLY)
  target_sources(tarjetas PRIVATE "${CMAKE_BINARY_DIR}/tarjetas.rc")
  install(TARGETS tarjetas RUNTIME DESTINATION bin)
  foreach(dll IN LISTS TARJETAS_WIN64_RUNTIME_DLLS)
    install(FILES "${TARJETAS_WIN64_PREFIX}/bin/${dll}" DESTINATION bin)
  endforeach()
  install(FILES ${TARJETAS_WIN64_MINGW_DLLS} "${CMAKE_BINARY_DIR}/qt.conf" DESTINATION bin)
  foreach(plugin IN LISTS TARJETAS_WIN64_PLUGINS)
    get_filename_component(_dir "${plugin}" DIRECTORY)
    install(FILES "${TARJETAS_WIN64_PREFIX}/plugins/${plugin}" DESTINATION "bin/${_dir}")
  endforeach()
  install(FILES "${TARJETAS_WIN64_PREFIX}/translations/qtbase_es.qm" DESTINATION bin/translations)
  install(FILES "${CMAKE_SOURCE_DIR}/resources/Clientes Tolvane.INI" DESTINATION share/tarjetas)
  # The installer's test: a fresh Wine prefix, a silent install, a card added through the installed
  # program's window, an upgrade and an uninstall that keep the registry. It needs a display of its
  # own (Xvfb), makensis and xdotool, and takes about a minute.
  if(TARJETAS_BUILD_TESTS)
    add_test(NAME windows_installer
             COMMAND "${CMAKE_SOURCE_DIR}/tools/windows/test_installer.sh" "${CMAKE_BINARY_DIR}")
    set_tests_properties(windows_installer PROPERTIES TIMEOUT 600 RUN_SERIAL ON)
  endif()
endfunction()

