# The corvana program: main() over the back end library, with the user
# interface compiled in as a resource tree rooted at "/".
find_package(OpenSSL COMPONENTS Crypto)

# The service the program talks to; a build of its own can point it elsewhere
# (for example at testing/service on loopback).
set(CORVANA_API_BASE_URL "https://api.corvana.net" CACHE STRING "Base URL of the service's API")
get_target_property(core_defs corvana_core COMPILE_DEFINITIONS)
if(NOT core_defs MATCHES "CORVANA_API_BASE_URL")
  target_compile_definitions(corvana_core PRIVATE CORVANA_API_BASE_URL="${CORVANA_API_BASE_URL}")
endif()

qt_add_executable(corvana src/main.cpp)
set_target_properties(corvana PROPERTIES
  AUTOMOC ON
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
target_link_libraries(corvana PRIVATE corvana_core)
corvana_warnings(corvana)

include(${CMAKE_CURRENT_SOURCE_DIR}/ui.cmake)
corvana_add_compiled_ui(corvana)

if(CORVANA_TESTS)
  # The credential tests check our cipher against an independent one.
  if(TARGET corvana_credential_store_test)
    if(NOT OpenSSL_FOUND)
      message(FATAL_ERROR "the credential store tests need OpenSSL's libcrypto (libssl-dev)")
    endif()
    target_link_libraries(corvana_credential_store_test PRIVATE OpenSSL::Crypto)
  endif()
  # Tests that start the real program need it built first.
  foreach(t IN ITEMS corvana_startup_program_test)
    if(TARGET ${t})
      add_dependencies(${t} corvana)
    endif()
  endforeach()
endif()
