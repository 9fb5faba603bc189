# What the tools share (tools/common/): their command lines on CLI11, their JSON text.
add_library(orv_tools_common INTERFACE)
target_include_directories(orv_tools_common INTERFACE ${CMAKE_SOURCE_DIR}/tools/common)
target_link_libraries(orv_tools_common INTERFACE CLI11::CLI11 nlohmann_json::nlohmann_json)
