# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a scratch prefix and checks what lands where: the
# programs, the unit naming the logger in this prefix (not the configured
# one), the manual pages, and that systemd takes the unit as installed.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()
set(unit "${PREFIX}/lib/systemd/system/veltrak-logger@.service")
foreach(f bin/veltrak bin/veltrak-sim bin/veltrak-logger share/applications/veltrak.desktop
          share/icons/hicolor/scalable/apps/veltrak.svg share/veltrak/logger.ini.example
          lib/systemd/system/veltrak-logger@.service)
    if(NOT EXISTS "${PREFIX}/${f}")
        message(FATAL_ERROR "missing after install: ${f}")
    endif()
endforeach()
foreach(program veltrak veltrak-logger)
    execute_process(COMMAND "${PREFIX}/bin/${program}" --version OUTPUT_VARIABLE out RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0 OR NOT out MATCHES "^${program} [0-9]")
        message(FATAL_ERROR "installed ${program} --version: ${rc} ${out}")
    endif()
endforeach()

file(STRINGS "${unit}" exec REGEX "^ExecStart=")
string(FIND "${exec}" "ExecStart=${PREFIX}/bin/veltrak-logger " at)
if(NOT at EQUAL 0)
    message(FATAL_ERROR "the unit does not start the logger installed in ${PREFIX}: ${exec}")
endif()
file(READ "${unit}" text)
if(text MATCHES "@[A-Za-z_]+@")
    message(FATAL_ERROR "the unit has a placeholder left: ${CMAKE_MATCH_0}")
endif()

# The pages exist when help2man was there at configure time.
file(STRINGS "${BUILD_DIR}/CMakeCache.txt" help2man REGEX "^HELP2MAN:")
set(man_pages OFF)
if(help2man MATCHES "=/")
    set(man_pages ON)
    foreach(program veltrak veltrak-sim veltrak-logger)
        set(page "${PREFIX}/share/man/man1/${program}.1.gz")
        if(NOT EXISTS "${page}")
            message(FATAL_ERROR "missing manual page: ${page}")
        endif()
        file(READ "${page}" magic LIMIT 2 HEX)
        if(NOT magic STREQUAL "1f8b")
            message(FATAL_ERROR "${page} is not gzip'd")
        endif()
    endforeach()
endif()

# An instance named after a stable device path, as an administrator would
# enable it; verify exits 0 on unknown keys and missing programs alike, so
# anything it prints about the unit counts as a failure.
find_program(SYSTEMD_ANALYZE systemd-analyze)
find_program(MAN man)
if(SYSTEMD_ANALYZE)
    set(instance "dev-serial-by\\x2did-usb\\x2dSIM_0-if00-port0")
    set(link "${PREFIX}/verify/veltrak-logger@${instance}.service")
    file(MAKE_DIRECTORY "${PREFIX}/verify")
    file(CREATE_LINK "${unit}" "${link}" SYMBOLIC)
    set(man_option --man=no)
    if(man_pages AND MAN)
        set(man_option --man=yes)
    endif()
    execute_process(COMMAND "${CMAKE_COMMAND}" -E env "MANPATH=${PREFIX}/share/man"
                            "${SYSTEMD_ANALYZE}" verify ${man_option} "${link}"
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT rc EQUAL 0 OR out MATCHES "veltrak-logger@")
        message(FATAL_ERROR "systemd-analyze verify ${link}: ${rc}\n${out}")
    endif()
    message(STATUS "systemd-analyze verify: clean")
else()
    message(STATUS "no systemd-analyze: unit not verified")
endif()
file(REMOVE_RECURSE "${PREFIX}")
