# Placeholder until the image generator lands: an all-0xFF stand-in of the right length.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/FirmwareImageData.cpp
"#include \"FirmwareImage.h\"\nconst uint8_t firmwareImage[165070] = {};\nconst int firmwareImageLength = 165070;\nconst bool firmwareImageIsStandIn = true;\n")
add_library(kalvessa_firmware_image STATIC ${CMAKE_CURRENT_BINARY_DIR}/FirmwareImageData.cpp)
target_include_directories(kalvessa_firmware_image PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
