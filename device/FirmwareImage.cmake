# The tap firmware carried inside the program, as the library kalvessa_firmware_image.
#
# KALVESSA_FIRMWARE_IMAGE names the maker's image (exactly 165070 bytes). Left empty, the build
# embeds a generated stand-in of the same length and shape, which lets everything build, run and
# be tested, but which must never be flashed into a real tap.
#
# The C++ data is generated from the binary at build time by kalvessa-fwembed, so the repository
# carries no image and the build tree holds the only copy of the generated source.

# The one place the image's length is written down; the embedding tool and the checks below
# take it from here.
set(KALVESSA_FIRMWARE_IMAGE_LENGTH 165070)

add_executable(kalvessa-fwembed ${PROJECT_SOURCE_DIR}/tools/fwembed/fwembed.cpp)
kalvessa_target_warnings(kalvessa-fwembed)
set_target_properties(kalvessa-fwembed PROPERTIES AUTOMOC OFF)

set(_fw_source ${CMAKE_CURRENT_BINARY_DIR}/FirmwareImageData.cpp)

if(KALVESSA_FIRMWARE_IMAGE)
  set(_fw_image ${KALVESSA_FIRMWARE_IMAGE})
  if(NOT IS_ABSOLUTE "${_fw_image}")
    get_filename_component(_fw_image "${_fw_image}" ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR})
  endif()
  if(NOT EXISTS "${_fw_image}" OR IS_DIRECTORY "${_fw_image}")
    message(FATAL_ERROR "KALVESSA_FIRMWARE_IMAGE: no such file: ${_fw_image}")
  endif()
  file(SIZE "${_fw_image}" _fw_size)
  if(NOT _fw_size EQUAL KALVESSA_FIRMWARE_IMAGE_LENGTH)
    message(FATAL_ERROR
      "KALVESSA_FIRMWARE_IMAGE: ${_fw_image} is ${_fw_size} bytes; the tap's firmware image is "
      "exactly ${KALVESSA_FIRMWARE_IMAGE_LENGTH} bytes. Refusing to build a program that would "
      "flash it.")
  endif()
  # Re-run configure when the file changes, so a replacement of another length is refused too.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_fw_image}")
  set(_fw_kind real)
  message(STATUS "Firmware image: ${_fw_image}")
else()
  set(_fw_image ${CMAKE_CURRENT_BINARY_DIR}/firmware-stand-in.bin)
  set(_fw_kind stand-in)
  add_custom_command(
    OUTPUT ${_fw_image}
    COMMAND kalvessa-fwembed stand-in ${_fw_image} ${KALVESSA_FIRMWARE_IMAGE_LENGTH}
    DEPENDS kalvessa-fwembed
    COMMENT "Generating the stand-in firmware image"
    VERBATIM)
  message(WARNING
    "No firmware image given: this build embeds a generated STAND-IN firmware image. "
    "It is not the tap's firmware; flashing it into a real Kalvessa 100 would leave the tap "
    "unusable. Configure with -DKALVESSA_FIRMWARE_IMAGE=/path/to/image.bin to embed the real one.")
endif()

add_custom_command(
  OUTPUT ${_fw_source}
  COMMAND kalvessa-fwembed embed ${_fw_image} ${_fw_source} ${_fw_kind} ${KALVESSA_FIRMWARE_IMAGE_LENGTH}
  DEPENDS kalvessa-fwembed ${_fw_image}
  COMMENT "Embedding the ${_fw_kind} firmware image"
  VERBATIM)

add_library(kalvessa_firmware_image STATIC FirmwareImage.h ${_fw_source})
target_include_directories(kalvessa_firmware_image PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
kalvessa_target_warnings(kalvessa_firmware_image)
set_target_properties(kalvessa_firmware_image PROPERTIES AUTOMOC OFF)

# Where the embedded image's own bytes live, for tests and benchmarks that compare against it.
set(KALVESSA_FIRMWARE_IMAGE_FILE ${_fw_image} CACHE INTERNAL "Binary of the embedded firmware image")
# Which one it is (real or stand-in), for the package version and description.
set(KALVESSA_FIRMWARE_IMAGE_KIND ${_fw_kind} CACHE INTERNAL "Kind of the embedded firmware image")
