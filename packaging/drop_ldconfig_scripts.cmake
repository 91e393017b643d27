# Run by cpack after it made the package (CPACK_POST_BUILD_SCRIPTS): takes out the maintainer scripts that
# only call ldconfig, which CPack writes whenever a shared object lies under /usr/lib. Kestrim's one shared
# object is a plugin in its private folder, which the dynamic linker's cache never holds.
find_program(DPKG_DEB dpkg-deb REQUIRED)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    set(tree "${package}.tree")
    file(REMOVE_RECURSE "${tree}")
    execute_process(COMMAND ${DPKG_DEB} --raw-extract "${package}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
    foreach(script IN ITEMS postinst postrm)
        set(path "${tree}/DEBIAN/${script}")
        if(EXISTS "${path}")
            file(READ "${path}" text)
            # Whatever else a script does must stay: only one that does nothing but ldconfig goes.
            string(REGEX REPLACE "#![^\n]*\n|set -e|if \\[ \"\\$1\" = \"[a-z]+\" \\]; then|ldconfig|fi|[ \t\n]" "" rest "${text}")
            if(NOT rest STREQUAL "")
                message(FATAL_ERROR "${script} of ${package} does more than call ldconfig:\n${text}")
            endif()
            file(REMOVE "${path}")
        endif()
    endforeach()
    execute_process(COMMAND ${DPKG_DEB} --root-owner-group --build "${tree}" "${package}"
        OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE "${tree}")
endforeach()
