# Installs the build into a scratch prefix and checks what lands where.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()
foreach(f bin/veltrak bin/veltrak-sim share/applications/veltrak.desktop
          share/icons/hicolor/scalable/apps/veltrak.svg)
    if(NOT EXISTS "${PREFIX}/${f}")
        message(FATAL_ERROR "missing after install: ${f}")
    endif()
endforeach()
execute_process(COMMAND "${PREFIX}/bin/veltrak" --version OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT out MATCHES "^veltrak ")
    message(FATAL_ERROR "installed veltrak --version: ${rc} ${out}")
endif()
file(REMOVE_RECURSE "${PREFIX}")
