// Message texts that the engine raises from more than one place. Each place
// keeps its own native error code; the text is written once, here, so that the
// places cannot drift apart.
#pragma once

namespace vex {

inline constexpr const char* sInvalidPointer = "Invalid pointer";
inline constexpr const char* sGetMemError = "GetMem error: %s";
inline constexpr const char* sOutOfMemory = "Out of memory";
inline constexpr const char* sMemoryLimitExceeded = "Memory limit exceeded (Limit = %d bytes)";

inline constexpr const char* sUnknownDataType = "Unknown DataType: '%s'";
inline constexpr const char* sUnsupportedDataType = "Unsupported data type '%s'";
inline constexpr const char* sUnsupportedVariantType = "Unsupported Variant Type %s";
inline constexpr const char* sValueIsNull = "Value is Null";
inline constexpr const char* sIntegerOverflow = "Integer overflow";
inline constexpr const char* sInvalidFloatingPointOperation = "Invalid floating point operation";

inline constexpr const char* sPPMCompressionError = "PPM Compression error";
inline constexpr const char* sPPMDecompressionError = "PPM Decompression error";

inline constexpr const char* sInvalidSessionID = "Invalid Session ID";
inline constexpr const char* sErrorReadingPage =
    "Error reading database file page. Page No: %d, type %d";

inline constexpr const char* sInvalidClassTypecast = "Invalid class typecast";
inline constexpr const char* sNameTooLong = "Name is too long to be stored: %d characters";
inline constexpr const char* sDifferentListLengths =
    "Error - different list lengths. L1 = %d, L2 = %d";

}  // namespace vex
