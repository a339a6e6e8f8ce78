# Test and argument libraries for a cross build, where the build machine's packages cannot be
# used: GoogleTest built for the target from the sources Debian ships (package googletest), and
# CLI11's headers alone (its CMake package points at the build machine's include directory, which
# would pull glibc headers into the build).
set(ZVK_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
set(ZVK_CLI11_INCLUDE /usr/include CACHE PATH "Directory that holds CLI/CLI.hpp")

if(NOT EXISTS ${ZVK_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${ZVK_GOOGLETEST_SOURCE}")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${ZVK_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
if(NOT TARGET GTest::gtest)
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()

if(NOT EXISTS ${ZVK_CLI11_INCLUDE}/CLI/CLI.hpp)
  message(FATAL_ERROR "CLI11 headers not found in ${ZVK_CLI11_INCLUDE}/CLI")
endif()
file(COPY ${ZVK_CLI11_INCLUDE}/CLI DESTINATION ${CMAKE_BINARY_DIR}/cli11/include)
add_library(zvk_cli11 INTERFACE)
target_include_directories(zvk_cli11 SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/cli11/include)
add_library(CLI11::CLI11 ALIAS zvk_cli11)

# nlohmann-json's headers alone, for the same reason as CLI11's.
set(ZVK_NLOHMANN_INCLUDE /usr/include CACHE PATH "Directory that holds nlohmann/json.hpp")
if(NOT EXISTS ${ZVK_NLOHMANN_INCLUDE}/nlohmann/json.hpp)
  message(FATAL_ERROR "nlohmann-json headers not found in ${ZVK_NLOHMANN_INCLUDE}/nlohmann")
endif()
file(COPY ${ZVK_NLOHMANN_INCLUDE}/nlohmann DESTINATION ${CMAKE_BINARY_DIR}/nlohmann/include)
add_library(zvk_nlohmann_json INTERFACE)
target_include_directories(zvk_nlohmann_json SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/nlohmann/include)
add_library(nlohmann_json::nlohmann_json ALIAS zvk_nlohmann_json)
