# Writes the firmware image and its closing bytes as constant arrays for FirmwareImage.cpp.
# Run as: cmake -DIMAGE=<.bin> -DCLOSING=<.closing> -DOUTPUT=<.h> -P embed.cmake
file(READ "${IMAGE}" image_hex HEX)
string(REPEAT "[0-9a-f][0-9a-f]" 16 sixteen_bytes)
string(REGEX REPLACE "(${sixteen_bytes})" "\\1\n" image_hex "${image_hex}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," image_list "${image_hex}")

# The closing file holds the five bytes as hex text on one line: "EE 00 74 12 66".
file(READ "${CLOSING}" closing_text)
string(STRIP "${closing_text}" closing_text)
string(REPEAT " [0-9A-Fa-f][0-9A-Fa-f]" 4 four_more)
if(NOT closing_text MATCHES "^[0-9A-Fa-f][0-9A-Fa-f]${four_more}$")
    message(FATAL_ERROR "${CLOSING} must hold five hex bytes on one line, as \"EE 00 74 12 66\"")
endif()
string(REGEX REPLACE "([0-9A-Fa-f][0-9A-Fa-f]) ?" "0x\\1," closing_list "${closing_text}")

file(WRITE "${OUTPUT}"
    "// Generated at build time from vek-firmware.bin and vek-firmware.closing; do not edit.\n"
    "#pragma once\n\n"
    "namespace vek::firmware_data {\n\n"
    "inline constexpr unsigned char kClosing[] = {${closing_list}};\n\n"
    "inline constexpr unsigned char kImage[] = {\n${image_list}\n};\n\n"
    "}  // namespace vek::firmware_data\n")
