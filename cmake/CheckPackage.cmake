# Installs the build into a fresh prefix, then builds an outside client (an executable and
# a plug-in, both using the kit) against it twice, through find_package and through
# pkg-config, and runs each. Run as a CTest script with:
#   -DBUILD_DIR -DCLIENT_DIR -DWORK_DIR -DGENERATOR and the compiler settings to reuse.
file(REMOVE_RECURSE ${WORK_DIR})
function(run)
    execute_process(COMMAND ${ARGV} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "failed: ${ARGV}\n${out}\n${err}")
    endif()
    set(last_output "${out}" PARENT_SCOPE)
endfunction()
function(run_client client plugin)
    run(${client} ${plugin})
    if(NOT last_output MATCHES "package client: ok")
        message(FATAL_ERROR "unexpected output of ${client}: ${last_output}")
    endif()
endfunction()

set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
# The shared library under its versioned name, reached through the SONAME link.
file(GLOB sonames ${prefix}/lib*/libprofilercontext.so.[0-9])
if(NOT sonames)
    message(FATAL_ERROR "no libprofilercontext.so.<major> installed in ${prefix}")
endif()
get_filename_component(libdir ${sonames} DIRECTORY)

set(settings -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${EXE_LINKER_FLAGS}"
    "-DCMAKE_MODULE_LINKER_FLAGS=${EXE_LINKER_FLAGS}")
if(TOOLCHAIN_FILE)
    list(APPEND settings -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE})
endif()
run(${CMAKE_COMMAND} -S ${CLIENT_DIR} -B ${WORK_DIR}/cmake -G ${GENERATOR} ${settings})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake)
run_client(${WORK_DIR}/cmake/package_client ${WORK_DIR}/cmake/package_plugin.so)

# The same sources with the compiler alone and what pkg-config says.
set(ENV{PKG_CONFIG_PATH} ${libdir}/pkgconfig)
run(pkg-config --cflags --libs profilercontext)
separate_arguments(pkg UNIX_COMMAND "${last_output}")
separate_arguments(flags UNIX_COMMAND "${CXX_FLAGS} ${EXE_LINKER_FLAGS}")
file(MAKE_DIRECTORY ${WORK_DIR}/pkg-config)
set(out ${WORK_DIR}/pkg-config)
run(${CXX_COMPILER} ${flags} -fPIC -shared ${CLIENT_DIR}/plugin.cpp ${pkg} -o ${out}/plugin.so)
run(${CXX_COMPILER} ${flags} ${CLIENT_DIR}/main.cpp ${pkg} -Wl,-rpath,${libdir}
    -o ${out}/package_client)
run_client(${out}/package_client ${out}/plugin.so)
