# Installs the built library into a scratch prefix and builds a small consumer
# against it twice: through find_package(cslib) and through pkg-config.
set(prefix ${BINARY_DIR}/install-check/prefix)
set(work ${BINARY_DIR}/install-check/consumer)
file(REMOVE_RECURSE ${BINARY_DIR}/install-check)

execute_process(COMMAND ${CMAKE_COMMAND} --install ${BINARY_DIR} --prefix ${prefix}
                RESULT_VARIABLE r)
if(r)
  message(FATAL_ERROR "cmake --install failed")
endif()

set(flags "")
if(SANITIZE)
  set(flags "-fsanitize=address,undefined")
endif()

# find_package consumer
file(MAKE_DIRECTORY ${work}/cmake-build)
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/install/consumer -B ${work}/cmake-build
          -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_FLAGS=${flags}
  RESULT_VARIABLE r)
if(r)
  message(FATAL_ERROR "configuring the find_package consumer failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${work}/cmake-build RESULT_VARIABLE r)
if(r)
  message(FATAL_ERROR "building the find_package consumer failed")
endif()
execute_process(COMMAND ${work}/cmake-build/consumer RESULT_VARIABLE r OUTPUT_VARIABLE out)
if(r OR NOT out MATCHES "cslib consumer ok")
  message(FATAL_ERROR "the find_package consumer did not run: ${r} ${out}")
endif()

# pkg-config consumer: g++ app.cpp $(pkg-config --cflags --libs cslib)
find_program(PKG_CONFIG pkg-config REQUIRED)
find_program(CXX NAMES g++ c++ REQUIRED)
file(GLOB pcdirs ${prefix}/lib*/pkgconfig ${prefix}/lib/*/pkgconfig)
string(REPLACE ";" ":" pcpath "${pcdirs}")
set(ENV{PKG_CONFIG_PATH} "${pcpath}")
execute_process(COMMAND ${PKG_CONFIG} --cflags --libs cslib OUTPUT_VARIABLE pc
                RESULT_VARIABLE r OUTPUT_STRIP_TRAILING_WHITESPACE)
if(r)
  message(FATAL_ERROR "pkg-config does not know cslib")
endif()
separate_arguments(pc UNIX_COMMAND "${pc}")
separate_arguments(flags UNIX_COMMAND "${flags}")
execute_process(COMMAND ${CXX} ${flags} ${SOURCE_DIR}/tests/install/consumer/consumer.cpp ${pc}
                        -o ${work}/pc-consumer RESULT_VARIABLE r)
if(r)
  message(FATAL_ERROR "building with pkg-config flags failed")
endif()
execute_process(COMMAND ${work}/pc-consumer RESULT_VARIABLE r OUTPUT_VARIABLE out)
if(r OR NOT out MATCHES "cslib consumer ok")
  message(FATAL_ERROR "the pkg-config consumer did not run: ${r} ${out}")
endif()
